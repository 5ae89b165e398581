#include "core/settings_rules.h"

#include <cstdio>

#include "core/path_rules.h"

namespace quorbel {

u16 PcNameKey(int index) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "pc_name_wcs[%d].pn", index);
    return FromAscii(buf);
}

u16 CutText(u16view text, std::size_t maxChars) { return u16(text.substr(0, maxChars)); }

u16 DefaultId(int year) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "QB%d", year);
    return CutText(FromAscii(buf), kStoredCredentialMaxChars);
}

u16 DefaultPw(int month, int day) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "PW%d%d", month, day);
    return CutText(FromAscii(buf), kStoredCredentialMaxChars);
}

std::optional<u16> SettingsFilePath(u16view startupFolder) {
    u16view file = kSettingsFileName;
    if (startupFolder.size() + 1 + file.size() > kMaxPathChars) return std::nullopt;
    u16 out(startupFolder);
    out.append(u"\\").append(file);
    return out;
}

}  // namespace quorbel
