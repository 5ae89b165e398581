// Checks of the copy and folder commands: the copy size limit, the
// folder-creation dialog's name checks and the path of a new folder.
#pragma once

#include <optional>

#include "core/text.h"

namespace quorbel {

// Largest file the copy commands accept (953M passes, 954M does not).
constexpr uint64_t kMaxCopyBytes = 999'997'000;

// True when the row's size text is within kMaxCopyBytes. An empty size text
// (folder rows) counts as 0 and passes.
bool CopySizeAllowed(u16view sizeText);

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

// Text of the dialog's message for a refused name; empty for kAccepted.
u16view FolderNameMessage(FolderNameCheck check);
// Caption of those messages.
inline constexpr const char16_t* kFolderNameCaption = u"Folder";

// Path of a new folder for the create-folder commands: folder, "\", name,
// joined exactly so also at a drive root ("C:\\new"). nullopt when it would
// pass 259 characters.
std::optional<u16> NewFolderPath(u16view folder, u16view name);

}  // namespace quorbel
