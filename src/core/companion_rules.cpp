#include "core/companion_rules.h"

#include "core/format_rules.h"
#include "core/path_rules.h"

namespace quorbel {

int32_t ReadCompanionTime(u16view text) {
    return ParseLeadingInt(text.substr(0, kCompanionTimeFieldMaxChars));
}

CompanionPosition CompanionPositionFor(int32_t left, int32_t top) {
    // 64-bit so a far-left window cannot wrap around.
    int64_t x = int64_t(left) - 300, y = int64_t(top) - 50;
    return {int32_t(x > 0 ? x : 0), int32_t(y > 0 ? y : 0)};
}

std::optional<u16> CompanionFilePath(u16view startupFolder) {
    u16view file = kCompanionFileName;
    if (startupFolder.size() + 1 + file.size() > kMaxPathChars) return std::nullopt;
    u16 out(startupFolder);
    out.append(u"\\").append(file);
    return out;
}

}  // namespace quorbel
