#include "core/command_rules.h"

#include "core/format_rules.h"
#include "core/path_rules.h"

namespace quorbel {

bool CopySizeAllowed(u16view sizeText) { return SizeTextBytes(sizeText) <= kMaxCopyBytes; }

FolderNameCheck CheckFolderName(u16view name, std::size_t localFolderPathLength) {
    if (name.empty()) return FolderNameCheck::kEmpty;
    if (name.find_first_of(u".\\") != u16view::npos) return FolderNameCheck::kBadCharacter;
    // A local path longer than the budget leaves room for no name at all.
    if (localFolderPathLength >= kFolderNameBudget || name.size() > kFolderNameBudget - localFolderPathLength)
        return FolderNameCheck::kTooLong;
    return FolderNameCheck::kAccepted;
}

u16view FolderNameMessage(FolderNameCheck check) {
    switch (check) {
        case FolderNameCheck::kEmpty: return u"文字を入力して下さい";
        case FolderNameCheck::kBadCharacter:
        case FolderNameCheck::kTooLong: return u"入力文字にエラー！";
        case FolderNameCheck::kAccepted: break;
    }
    return u"";
}

std::optional<u16> NewFolderPath(u16view folder, u16view name) {
    if (folder.size() + 1 + name.size() > kMaxPathChars) return std::nullopt;
    u16 out;
    out.reserve(folder.size() + 1 + name.size());
    out.append(folder).append(u"\\").append(name);
    return out;
}

}  // namespace quorbel
