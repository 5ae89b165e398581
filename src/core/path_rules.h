// Folder path rules of both panes: going up, going into a folder, telling a
// file row from a folder row, and joining entry paths for listings. A folder
// path is either a drive root "C:\" or a path without trailing backslash.
// Every path fits the 260-unit buffers of the Win32 side: 259 characters at
// most; a join that would be longer is refused, never cut.
#pragma once

#include <optional>

#include "core/text.h"

namespace quorbel {

// Longest path a 260-unit buffer holds (terminator excluded).
constexpr std::size_t kMaxPathChars = 259;

// Parent folder: removes the last backslash and what follows it, then turns a
// bare "C:" back into "C:\". The first character is never looked at, so a
// path whose only backslash is the first character, or that has none, gives
// an empty path. C:\data\work -> C:\data -> C:\ (and C:\ stays C:\).
u16 ParentPath(u16view path);

// True when the row name is taken for a file: one of its last four
// characters (all of them for shorter names) is a dot. app.old counts as a
// file, README and page.html as folders.
bool LooksLikeFile(u16view name);

// Separator between an old path and a folder name: "\" after a path longer
// than three characters or of exactly two ("C:"), ":\" after a bare drive
// letter, nothing after a drive root or an empty path.
u16view FolderSeparator(u16view path);

// Old path, separator and name. nullopt when the result would pass
// kMaxPathChars.
std::optional<u16> JoinIntoFolder(u16view path, u16view name);

// What a double-click on a pane row does to the pane's path.
enum class RowOpenOutcome {
    kNewPath,      // path holds the folder to list
    kFileWarning,  // the row looks like a file: warn, list the unchanged path again
    kTooLong,      // the joined path would pass kMaxPathChars: the pane stays
    kIgnored,      // no name (nothing selected): nothing happens
};

struct RowOpenResult {
    RowOpenOutcome outcome = RowOpenOutcome::kIgnored;
    u16 path;  // the path to list afterwards; the old one unless kNewPath
};

// Applies a double-click on the row `name` to the folder `path`: a drive row
// becomes the path, "." and ".." both go up one level, a file-like name gives
// the warning, any other name is entered.
RowOpenResult OpenRowPath(u16view path, u16view name);

// Full path of an entry inside a folder: "\" between them unless the folder
// already ends with one. nullopt when it would pass kMaxPathChars.
std::optional<u16> JoinEntryPath(u16view folder, u16view name);

// Search pattern of a listing: the folder with "\*" appended directly (at a
// drive root this gives two backslashes, which the search accepts).
// nullopt when it would pass kMaxPathChars.
std::optional<u16> ListingPattern(u16view folder);

}  // namespace quorbel
