// Checks of the copy and folder commands: the copy size limit of a row and
// the folder-creation dialog's name checks.
#pragma once

#include "core/base/catalogue.h"

namespace quorbel {

// True when the row's size text stands for at most `maxBytes` (the limit of
// the connection's mode). An empty size text (folder rows) counts as 0.
bool CopySizeAllowed(u16view sizeText, uint64_t maxBytes);

// Longest folder path plus name that the folder dialog accepts; the name may
// be at most this minus the local folder path's length.
constexpr std::size_t kFolderNameBudget = 248;

enum class FolderNameCheck {
    kAccepted,
    kEmpty,         // "文字を入力して下さい"
    kBadCharacter,  // contains "." or "\": "入力文字にエラー！"
    kTooLong,       // over the budget: "入力文字にエラー！"
};

// The folder dialog's checks, in their order. The local folder path bounds
// the name whichever side the folder is for.
FolderNameCheck CheckFolderName(u16view name, std::size_t localFolderPathLength);

// The box for a refused name (null text for kAccepted).
BoxText FolderNameMessage(FolderNameCheck check);

}  // namespace quorbel
