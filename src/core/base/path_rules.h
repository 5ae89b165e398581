// Folder path rules of both panes and the one bounded join every path of the
// program goes through. A folder path is either a drive root "C:\" or a path
// without trailing backslash. A join that would pass kMaxPath characters is
// refused, never cut.
#pragma once

#include <optional>

#include "core/base/limits.h"
#include "core/base/text.h"

namespace quorbel {

// The folder each pane starts from, and the remote one of every new peer.
inline constexpr char16_t kStartFolder[] = u"C:\\";

// folder, "\", name: joined exactly so, also after a drive root ("C:\\new"),
// as the settings file, the batch files and new folders are named.
std::optional<u16> JoinPath(u16view folder, u16view name);
// folder and name with one "\" between them: none is added after a folder
// that ends with one (entries of a listing, a copy's file).
std::optional<u16> JoinEntryPath(u16view folder, u16view name);

// Parent folder: removes the last backslash and what follows it, then turns a
// bare "C:" back into "C:\". The first character is never looked at, so a
// path whose only backslash is the first character, or that has none, gives
// an empty path. C:\data\work -> C:\data -> C:\ (and C:\ stays C:\).
u16 ParentPath(u16view path);

// True when the row name is taken for a file: one of its last four
// characters (all of them for shorter names) is a dot. app.old counts as a
// file, README and page.html as folders.
bool LooksLikeFile(u16view name);

// What a double-click on a pane row does to the pane's path.
enum class RowOpenOutcome {
    kNewPath,      // path holds the folder to list
    kFileWarning,  // the row looks like a file: warn, list the unchanged path again
    kTooLong,      // the joined path would pass kMaxPath: the pane stays
    kIgnored,      // no name (nothing selected): nothing happens
};

struct RowOpenResult {
    RowOpenOutcome outcome = RowOpenOutcome::kIgnored;
    u16 path;  // the path to list afterwards; the old one unless kNewPath
};

// Applies a double-click on the row `name` to the folder `path`: a drive row
// becomes the path, "." and ".." both go up one level, a file-like name gives
// the warning, any other name is entered ("\" after a path longer than three
// characters or of exactly two, ":\" after a bare drive letter, nothing
// after a drive root or an empty path).
RowOpenResult OpenRowPath(u16view path, u16view name);

// The file name of a path: what follows its last "\" (all of it without one).
u16view FileNameOf(u16view path);

// True when a name the peer listed names a file right inside a local folder
// and nothing else: not empty, not "." or "..", no "\", "/", ":", control
// character or other character Windows refuses in a name, no trailing dot
// or space (Windows drops them, naming another file), and not a device
// (CON, NUL, COM0 to COM9, LPT1 and the like, with or without an extension).
bool IsPlainFileName(u16view name);

// True for the entries "." and "..".
bool IsDotEntry(u16view name);

// Drive root form "C:\" (exactly three characters).
bool IsDriveRoot(u16view path);

}  // namespace quorbel
