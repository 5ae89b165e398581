// The peer's tree listing as a tree copy reads it: the rows of one exchange
// for a whole tree (treeListing), kept by folder in little memory, from
// which the tree plan takes each folder's listing without a round trip of
// its own, and a put's rules look at what its destination holds. It keeps
// at most kMaxTreeListingRows rows; a folder it holds no group for, a cut
// listing's last one included, is listed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/base/text.h"
#include "core/copy/tree_plan.h"
#include "core/panes/folder_rows.h"

namespace quorbel {

class TreeListing {
public:
    // A row named by its path below the top; a folder's own "." row starts
    // its group. False once no more are kept.
    bool Add(const PaneRow& row);
    // The listing ended: whole, or cut (its last group may lack rows).
    void End(bool whole);
    // It came to its end with every row kept: a folder it holds no group
    // for is not there.
    bool Whole() const { return whole_; }
    // The files among its rows.
    std::size_t Files() const { return files_; }
    // The rows of `folder`'s group (a path below the top, empty for the
    // top), each named by its own name; false when there is none.
    bool ForEach(u16view folder, const std::function<void(const PaneRow&)>& take) const;
    // The plan's listing of `folder`, ended: false when there is no group.
    bool Feed(u16view folder, TreePlan& plan) const;

private:
    struct Entry {
        uint32_t nameEnd;
        int32_t image;
        uint64_t bytes, lastWriteTime;
        bool exact;
    };
    struct Group {
        u16 names;
        std::vector<Entry> entries;
        std::string hashes;  // 64 hex digits an entry, or none at all
    };
    std::unordered_map<u16, Group> groups_;
    u16 current_;
    bool open_ = false, full_ = false, whole_ = false;
    std::size_t rows_ = 0, files_ = 0;
};

}  // namespace quorbel
