// The serving side of a tree listing (treeListing): a folder's whole tree
// read one entry at a time, depth first, in the order a tree copy visits
// it: a folder's group of records (its own "." first, then its entries),
// then each of its subfolders' trees in the order they were listed. Every
// name is the path below the top. It holds the folder at hand's search and,
// for each folder on the way down, the subfolders still to visit, bounded
// as a tree plan is; a folder's group stops at kMaxTreeFolderEntries, and
// no folder's group starts past kTreeListingRows rows: the receiver lists
// what was left out one folder at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "core/base/text.h"
#include "core/panes/folder_rows.h"
#include "core/protocol/cryptography.h"
#include "core/protocol/files.h"

namespace quorbel {

class TreeWalk {
public:
    // `hashes`: each file's row carries its SHA-256 in hex (empty when it
    // could not be read).
    TreeWalk(FileStore& files, Cryptography& crypto, u16view top, bool hashes);
    // The next row; false at the end.
    bool Next(PaneRow& row);

private:
    bool OpenNextFolder();

    FileStore& files_;
    Cryptography& crypto_;
    u16 top_;
    bool hashes_;
    std::unique_ptr<FolderCursor> cursor_;
    u16 folder_;  // the folder at hand, below the top
    bool dotSent_ = false;
    std::size_t entries_ = 0, rows_ = 0;
    // A folder on the way down and its subfolders still to visit.
    struct Level {
        u16 path;
        std::vector<u16> names;
        std::size_t next = 0;
    };
    std::vector<Level> levels_;
    Level subfolders_;  // the folder at hand's
    std::size_t waitingFolders_ = 0, waitingChars_ = 0;
    std::vector<char> buffer_;
};

}  // namespace quorbel
