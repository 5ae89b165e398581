#include "core/copy/tree_plan.h"

#include <utility>

#include "core/base/limits.h"
#include "core/base/path_rules.h"
#include "core/panes/row_rules.h"

namespace quorbel {

std::size_t RoomBelow(u16view top) { return top.size() < kMaxPath ? kMaxPath - top.size() - 1 : 0; }

TreePlan::TreePlan(std::size_t room, std::size_t maxEntries) : room_(room), maxEntries_(maxEntries) {}

TreeStep TreePlan::Emit(TreeAction action, u16 path, TreeSkip reason, uint64_t bytes) {
    TreeStep step;
    step.action = action;
    step.path = std::move(path);
    step.reason = reason;
    step.bytes = bytes;
    if (action == TreeAction::Skip) ++skipped_[int(reason)];
    return step;
}

TreeStep TreePlan::Next() {
    switch (phase_) {
        case Phase::Start:
            phase_ = Phase::Listing;
            return Emit(TreeAction::List, folder_);
        case Phase::Listing:  // the listing was never ended: it gave what it gave
            EndListing(entries_ > 0);
            return Next();
        case Phase::Listed:
            if (!listed_) {
                phase_ = Phase::Made;
                items_.clear();
                DropSubfolders();
                return Emit(TreeAction::Skip, folder_, TreeSkip::Unlisted);
            }
            phase_ = Phase::Made;
            ++folders_;
            return Emit(TreeAction::MakeFolder, folder_);
        case Phase::Made:
            // Its subfolders are visited in listing order once its files are done.
            if (!subfolders_.ends.empty()) {
                subfolders_.name = folderName_;
                levels_.push_back(std::move(subfolders_));
                subfolders_ = Level();
            }
            if (nextItem_ < items_.size()) {
                Item item = std::move(items_[nextItem_++]);
                const u16& name = item.row.name;
                u16 path = name.empty() ? folder_ : folder_.empty() ? name : folder_ + u"\\" + name;
                if (item.reason != TreeSkip::None) return Emit(TreeAction::Skip, std::move(path), item.reason);
                ++files_;
                TreeStep step = Emit(TreeAction::CopyFile, std::move(path), TreeSkip::None, item.bytes);
                step.row = std::move(item.row);
                return step;
            }
            items_.clear();
            nextItem_ = 0;
            while (!levels_.empty() && levels_.back().next == levels_.back().ends.size()) levels_.pop_back();
            if (levels_.empty()) {
                phase_ = Phase::Done;
                return Next();
            }
            {
                Level& level = levels_.back();
                const std::size_t begin = level.next == 0 ? 0 : level.ends[level.next - 1], end = level.ends[level.next];
                folderName_ = level.names.substr(begin, end - begin);
                ++level.next;
                --waitingFolders_;
                waitingChars_ -= folderName_.size();
            }
            // The path of the way down, then the name.
            folder_.clear();
            for (std::size_t i = 1; i < levels_.size(); ++i) folder_.append(levels_[i].name).push_back(u'\\');
            folder_ += folderName_;
            phase_ = Phase::Listing;
            entries_ = 0;
            full_ = crowded_ = false;
            return Emit(TreeAction::List, folder_);
        case Phase::Done:
            break;
    }
    return TreeStep();
}

void TreePlan::Take(PaneRow row, Kind kind, uint64_t bytes) {
    const u16view name = row.name;
    ++entries_;
    full_ = entries_ >= maxEntries_;
    if (kind == Kind::Ignored) return;
    TreeSkip reason = kind == Kind::Link ? TreeSkip::Link : kind == Kind::Special ? TreeSkip::Special : TreeSkip::None;
    if (reason == TreeSkip::None && !IsPlainFileName(name)) reason = TreeSkip::BadName;
    const std::size_t length = folder_.size() + (folder_.empty() ? 0 : 1) + name.size();
    if (reason == TreeSkip::None && length > room_) reason = TreeSkip::TooLong;
    if (kind != Kind::Folder || reason != TreeSkip::None) {
        items_.push_back({std::move(row), reason, bytes});
    } else if (waitingFolders_ < kMaxWaitingFolders && waitingChars_ + name.size() <= kMaxWaitingChars) {
        subfolders_.names += name;
        subfolders_.ends.push_back(uint32_t(subfolders_.names.size()));
        ++waitingFolders_;
        waitingChars_ += name.size();
    } else if (!std::exchange(crowded_, true)) {
        // Named once, as the folder it concerns.
        items_.push_back({PaneRow(), TreeSkip::Crowded, 0});
    }
}

bool TreePlan::AddRow(const PaneRow& row) {
    if (phase_ != Phase::Listing || entries_ >= maxEntries_) return false;
    // The folder's own "." and "..", and drive rows, are no entries of it.
    Kind kind = Kind::Special;
    if ((row.image == kImageDot && IsDotEntry(row.name)) || IsDriveImage(row.image)) kind = Kind::Ignored;
    else if (row.image == kImageFolder) kind = Kind::Folder;
    else if (row.image >= kImageCompressed && row.image <= kImageFile) kind = Kind::File;
    Take(row, kind, 0);
    return entries_ < maxEntries_;
}

bool TreePlan::AddEntry(const FolderEntry& entry) {
    if (phase_ != Phase::Listing || entries_ >= maxEntries_) return false;
    Kind kind = Kind::File;
    if (IsDotEntry(entry.name)) kind = Kind::Ignored;
    else if (entry.attributes & kAttrReparsePoint) kind = Kind::Link;
    else if (entry.attributes & kAttrDevice) kind = Kind::Special;
    else if (entry.attributes & kAttrDirectory) kind = Kind::Folder;
    Take(EntryRow(entry), kind, entry.sizeOnDisk);
    return entries_ < maxEntries_;
}

void TreePlan::EndListing(bool listed) {
    if (phase_ != Phase::Listing) return;
    phase_ = Phase::Listed;
    listed_ = listed;
    // Said first, so that what follows is read as part of a folder that may hold more.
    if (full_) items_.insert(items_.begin(), Item{PaneRow(), TreeSkip::Incomplete, 0});
}

void TreePlan::DropSubfolders() {
    waitingFolders_ -= subfolders_.ends.size();
    waitingChars_ -= subfolders_.names.size();
    subfolders_ = Level();
}

void TreePlan::FolderFailed() {
    if (phase_ != Phase::Made || nextItem_ != 0) return;
    items_.clear();
    DropSubfolders();
}

}  // namespace quorbel
