#include "core/copy/tree_listing.h"

#include "core/base/limits.h"
#include "core/panes/row_rules.h"

namespace quorbel {

namespace {
constexpr std::size_t kHashDigits = 64;
}

bool TreeListing::Add(const PaneRow& row) {
    if (full_ || rows_ >= kMaxTreeListingRows) {
        // The group at hand may lack rows: its folder is listed on its own.
        if (open_) groups_.erase(current_);
        open_ = false;
        full_ = true;
        return false;
    }
    ++rows_;
    const std::size_t slash = row.name.rfind(u'\\');
    const u16view parent = slash == u16::npos ? u16view() : u16view(row.name).substr(0, slash);
    const u16view name = slash == u16::npos ? u16view(row.name) : u16view(row.name).substr(slash + 1);
    if (row.image == kImageDot && name == u".") {
        current_.assign(parent);
        groups_[current_] = Group();
        open_ = true;
        return true;
    }
    if (!open_) return true;
    // A name that holds "\" is no plain file name: it stays in the group at
    // hand as it is, for the plan to name as left out.
    u16view own = name;
    if (parent != u16view(current_)) {
        const u16view whole = row.name;
        if (!current_.empty() && (whole.size() <= current_.size() || whole.substr(0, current_.size()) != current_ ||
                                  whole[current_.size()] != u'\\'))
            return true;
        own = current_.empty() ? whole : whole.substr(current_.size() + 1);
    }
    files_ += row.image != kImageFolder && !IsDriveImage(row.image);
    Group& group = groups_[current_];
    group.names.append(own);
    group.entries.push_back({uint32_t(group.names.size()), row.image, row.bytes, row.lastWriteTime, row.exact});
    if (!row.hash.empty() || !group.hashes.empty()) {
        group.hashes.resize((group.entries.size() - 1) * kHashDigits, '-');
        group.hashes.append(row.hash.size() == kHashDigits ? row.hash : std::string(kHashDigits, '-'));
    }
    return true;
}

void TreeListing::End(bool whole) {
    if (!whole && open_) groups_.erase(current_);
    open_ = false;
    whole_ = whole && !full_;
}

bool TreeListing::ForEach(u16view folder, const std::function<void(const PaneRow&)>& take) const {
    const auto found = groups_.find(u16(folder));
    if (found == groups_.end()) return false;
    const Group& group = found->second;
    uint32_t begin = 0;
    for (std::size_t i = 0; i < group.entries.size(); ++i) {
        const Entry& e = group.entries[i];
        PaneRow row;
        row.name = group.names.substr(begin, e.nameEnd - begin);
        row.image = e.image;
        row.bytes = e.bytes;
        row.lastWriteTime = e.lastWriteTime;
        row.exact = e.exact;
        if (group.hashes.size() >= (i + 1) * kHashDigits) {
            row.hash = group.hashes.substr(i * kHashDigits, kHashDigits);
            if (row.hash[0] == '-') row.hash.clear();
        }
        begin = e.nameEnd;
        take(row);
    }
    return true;
}

bool TreeListing::Feed(u16view folder, TreePlan& plan) const {
    if (!ForEach(folder, [&](const PaneRow& row) { plan.AddRow(row); })) return false;
    plan.EndListing(true);
    return true;
}

}  // namespace quorbel
