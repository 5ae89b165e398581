#include "core/panes/row_rules.h"

#include <cstdio>

namespace quorbel {

u16 FormatSizeText(uint64_t n) {
    static const struct { uint64_t from; unsigned shift; const char* unit; } kUnits[] = {
        {10ULL << 40, 40, "T"}, {10ULL << 30, 30, "G"}, {10ULL << 20, 20, "M"}, {10ULL << 10, 10, "K"},
    };
    char buf[32];
    for (const auto& u : kUnits) {
        if (n >= u.from) {
            std::snprintf(buf, sizeof buf, "%llu%s", static_cast<unsigned long long>(n >> u.shift), u.unit);
            return FromAscii(buf);
        }
    }
    std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(n));
    return FromAscii(buf);
}

u16 FormatDateText(const LocalTimeFields& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
    return FromAscii(buf);
}

RowImage RowImageIndex(uint32_t attributes, u16view name) {
    if (IsDotEntry(name)) return kImageDot;
    if (attributes & kAttrDirectory) return kImageFolder;
    if (attributes & kAttrArchive) return kImageArchive;
    if (attributes & kAttrCompressed) return kImageCompressed;
    return kImageFile;
}

RowImage DriveImageIndex(int driveType) {
    switch (driveType) {
        case kDriveFixed: return kImageFixed;
        case kDriveCdrom: return kImageCdrom;
        case kDriveRemovable: return kImageRemovable;
        case kDriveRemote: return kImageRemote;
        case kDriveRamdisk: return kImageRamdisk;
        default: return kImageNone;
    }
}

bool IsDriveImage(int32_t image) { return image >= kImageFixed && image <= kImageRamdisk; }

bool SizeTextIsEmpty(uint32_t attributes, u16view name) {
    return IsDotEntry(name) || attributes == kAttrDirectory;
}

uint64_t SizeTextBytes(u16view text) {
    int32_t number = ParseLeadingInt(text);
    if (text.empty() || number <= 0) return 0;
    unsigned shift = 0;
    switch (text.back()) {
        case u'K': shift = 10; break;
        case u'M': shift = 20; break;
        case u'G': shift = 30; break;
        case u'T': shift = 40; break;
        default: break;
    }
    return static_cast<uint64_t>(number) << shift;
}

}  // namespace quorbel
