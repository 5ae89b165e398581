// The plan of a folder copy with its whole tree, for either front end and
// either direction: it reads the rows of a peer's listing or the entries of
// a local folder and says what to do next, depth first: list a folder,
// make it on the receiving side, copy its files one by one, then go on with
// its subfolders. It holds the entries of the folder at hand and, for each
// folder on the way down to it, the names of the subfolders still to
// visit, never the tree; those are bounded too. Names that are no plain
// file names, paths past kMaxPath, links and special files are left out
// and named, as is a folder whose listing filled the table or whose
// subfolders would pass the folders a plan keeps waiting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/base/limits.h"
#include "core/base/text.h"
#include "core/panes/folder_rows.h"

namespace quorbel {

enum class TreeAction {
    List,        // list the source folder `path`, hand its rows to the plan, then EndListing
    MakeFolder,  // make the folder `path` on the receiving side (FolderFailed when that fails)
    CopyFile,    // copy the file `path`
    Skip,        // `path` is left out, for `reason`
    Done,
};

enum class TreeSkip {
    None,
    Link,        // a symbolic link or another reparse point
    Special,     // neither file nor folder: a device, a pipe, a kind no listing knows
    BadName,     // not a plain file name ("..", "a/b", "x:y", a device name)
    TooLong,     // the path would pass kMaxPath
    Incomplete,  // the folder's listing filled the table: more entries may exist
    Unlisted,    // the folder lists nothing: gone, or not a folder
    Crowded,     // more folders waited than a plan keeps: the folder's further subfolders are left out
};

struct TreeStep {
    TreeAction action = TreeAction::Done;
    // Below the two tops, parts joined by "\"; empty for the top folder.
    u16 path;
    TreeSkip reason = TreeSkip::None;
    uint64_t bytes = 0;  // a local file's size (a peer's listing gives it only roughly)
    PaneRow row;         // CopyFile: the file as its listing gave it, for a rule that compares it
};

// Characters a path below `top` may take so that top, "\" and it fit kMaxPath.
std::size_t RoomBelow(u16view top);

// Whether a left-out entry is one a copy never takes (links and special
// files), rather than one that should have been copied.
inline bool SkipIsByKind(TreeSkip reason) { return reason == TreeSkip::Link || reason == TreeSkip::Special; }

class TreePlan {
public:
    // `room`: the characters a path below the tops may take (RoomBelow of
    // the longer top); `maxEntries`: the entries a listing may hold, a
    // listing that reaches it counting as one that filled the table.
    TreePlan(std::size_t room, std::size_t maxEntries);

    // The step to take now.
    TreeStep Next();

    // The rows of the peer's listing of the folder of the last List step,
    // or the entries of a local one. False once the plan takes no more.
    bool AddRow(const PaneRow& row);
    bool AddEntry(const FolderEntry& entry);
    // That listing ended: `listed` false when it gave nothing at all.
    void EndListing(bool listed);
    // The folder of the last MakeFolder step was not made: its tree is left out.
    void FolderFailed();

    // What the plan handed out so far.
    int Files() const { return files_; }
    int Folders() const { return folders_; }
    int Skipped(TreeSkip reason) const { return skipped_[int(reason)]; }

private:
    enum class Kind { Ignored, File, Folder, Link, Special };
    void Take(PaneRow row, Kind kind, uint64_t bytes);
    TreeStep Emit(TreeAction action, u16 path, TreeSkip reason = TreeSkip::None, uint64_t bytes = 0);

    struct Item {
        PaneRow row;      // its name, and a file's listing
        TreeSkip reason;  // None for a file
        uint64_t bytes;
    };
    enum class Phase { Start, Listing, Listed, Made, Done };
    // A folder on the way down: its own name, and the names of its
    // subfolders, packed in listing order, those from `next` on still to visit.
    struct Level {
        u16 name;
        u16 names;
        std::vector<uint32_t> ends;
        std::size_t next = 0;
    };
    // The folder at hand's subfolders are forgotten (its tree is left out).
    void DropSubfolders();

    std::size_t room_, maxEntries_;
    Phase phase_ = Phase::Start;
    bool listed_ = false;
    bool full_ = false;
    bool crowded_ = false;
    std::size_t entries_ = 0;
    u16 folder_;                    // the folder at hand
    u16 folderName_;                // its own name
    std::vector<Item> items_;       // its files and what it leaves out, in listing order
    std::size_t nextItem_ = 0;
    Level subfolders_;              // its folders, to visit once it is made
    std::vector<Level> levels_;     // the way down to it
    std::size_t waitingFolders_ = 0, waitingChars_ = 0;
    int files_ = 0, folders_ = 0;
    int skipped_[int(TreeSkip::Crowded) + 1] = {};
};

}  // namespace quorbel
