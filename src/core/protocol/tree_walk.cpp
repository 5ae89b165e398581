#include "core/protocol/tree_walk.h"

#include <utility>

#include "core/base/limits.h"
#include "core/base/path_rules.h"
#include "core/protocol/transfer.h"

namespace quorbel {

TreeWalk::TreeWalk(FileStore& files, Cryptography& crypto, u16view top, bool hashes)
    : files_(files), crypto_(crypto), top_(top), hashes_(hashes) {
    cursor_ = files_.OpenFolder(top_);
}

bool TreeWalk::OpenNextFolder() {
    // The folder just read goes on the way down, with its subfolders.
    if (!subfolders_.names.empty()) levels_.push_back(std::move(subfolders_));
    subfolders_ = Level();
    while (!levels_.empty()) {
        Level& level = levels_.back();
        if (level.next == level.names.size()) {
            levels_.pop_back();
            continue;
        }
        u16 name = std::move(level.names[level.next++]);
        waitingChars_ -= name.size();
        --waitingFolders_;
        folder_ = level.path.empty() ? name : level.path + u"\\" + name;
        if (rows_ >= kTreeListingRows) return false;  // the rest is listed folder by folder
        const u16 path = top_ + u"\\" + folder_;
        if (path.size() > kMaxPath || !(cursor_ = files_.OpenFolder(path))) continue;
        subfolders_.path = folder_;
        dotSent_ = false;
        entries_ = 0;
        return true;
    }
    return false;
}

bool TreeWalk::Next(PaneRow& row) {
    for (;;) {
        if (!cursor_ && !OpenNextFolder()) return false;
        if (!dotSent_) {
            dotSent_ = true;
            FolderEntry dot;
            dot.name = u".";
            dot.attributes = kAttrDirectory;
            row = EntryRow(dot);
            row.name = folder_.empty() ? u16(u".") : folder_ + u"\\.";
            ++rows_;
            return true;
        }
        FolderEntry entry;
        if (entries_ >= kMaxTreeFolderEntries || !cursor_->Next(entry)) {
            cursor_.reset();
            continue;
        }
        if (IsDotEntry(entry.name)) continue;
        ++entries_;
        const bool folder = (entry.attributes & kAttrDirectory) && !(entry.attributes & (kAttrReparsePoint | kAttrDevice));
        // A name the receiver could not place below its folder is sent for it
        // to name as left out; nothing is read below it.
        const bool plain = entry.name.find(u'\\') == u16::npos;
        if (folder && plain && waitingFolders_ < kMaxWaitingFolders &&
            waitingChars_ + entry.name.size() <= kMaxWaitingChars) {
            subfolders_.names.push_back(entry.name);
            waitingChars_ += entry.name.size();
            ++waitingFolders_;
        }
        row = EntryRow(entry);
        row.name = folder_.empty() ? entry.name : folder_ + u"\\" + entry.name;
        if (hashes_ && !folder && !(entry.attributes & (kAttrReparsePoint | kAttrDevice))) {
            uint64_t size = 0;
            std::unique_ptr<SourceFile> file = files_.OpenForRead(top_ + u"\\" + row.name, size);
            if (!file || !HashFile(*file, size, crypto_, buffer_, row.hash)) row.hash.clear();
        }
        ++rows_;
        return true;
    }
}

}  // namespace quorbel
