#include "linux/peer/rows.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/panes/row_rules.h"
#include "linux/peer/display.h"

namespace quorbel::peer {

namespace {

const char* KindWord(int32_t image) {
    if (image == kImageDot || image == kImageFolder) return "dir";
    if (IsDriveImage(image)) return "drive";
    return "file";
}

}  // namespace

std::string IsoTime(uint64_t fileTime) {
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr int64_t kSecondsTo1970 = 11644473600;
    const time_t seconds = time_t(int64_t(fileTime / kTicksPerSecond) - kSecondsTo1970);
    tm utc{};
    if (fileTime == 0 || ::gmtime_r(&seconds, &utc) == nullptr) return "";
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%07uZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, unsigned(fileTime % kTicksPerSecond));
    return text;
}

void PrintRow(const PaneRow& row, bool tsv) {
    const std::string name = Printable(row.name), date = Printable(row.date), size = Printable(row.size);
    const char* kind = KindWord(row.image);
    if (tsv && row.exact)
        std::printf("%s\t%s\t%s\t%s\n", name.c_str(), IsoTime(row.lastWriteTime).c_str(),
                    std::strcmp(kind, "file") == 0 ? std::to_string(row.bytes).c_str() : "", kind);
    else if (tsv)
        std::printf("%s\t%s\t%s\t%s\n", name.c_str(), date.c_str(), size.c_str(), kind);
    else
        std::printf("%-16s %7s  %-5s  %s\n", date.c_str(), size.c_str(), kind, name.c_str());
}

}  // namespace quorbel::peer
