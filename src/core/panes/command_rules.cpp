#include "core/panes/command_rules.h"

#include "core/panes/row_rules.h"

namespace quorbel {

bool CopySizeAllowed(u16view sizeText, uint64_t maxBytes) { return SizeTextBytes(sizeText) <= maxBytes; }

FolderNameCheck CheckFolderName(u16view name, std::size_t localFolderPathLength) {
    if (name.empty()) return FolderNameCheck::kEmpty;
    if (name.find_first_of(u".\\") != u16view::npos) return FolderNameCheck::kBadCharacter;
    // A local path longer than the budget leaves room for no name at all.
    if (localFolderPathLength >= kFolderNameBudget || name.size() > kFolderNameBudget - localFolderPathLength)
        return FolderNameCheck::kTooLong;
    return FolderNameCheck::kAccepted;
}

BoxText FolderNameMessage(FolderNameCheck check) {
    switch (check) {
        case FolderNameCheck::kEmpty: return texts::kFolderNameEmpty;
        case FolderNameCheck::kBadCharacter:
        case FolderNameCheck::kTooLong: return texts::kFolderNameBad;
        case FolderNameCheck::kAccepted: break;
    }
    return {nullptr, nullptr};
}

}  // namespace quorbel
