#include "core/panes/folder_rows.h"

#include "core/base/path_rules.h"

namespace quorbel {

PaneRow EntryRow(const FolderEntry& entry) {
    PaneRow row;
    row.name = entry.name;
    if (entry.lastWriteKnown) row.date = FormatDateText(entry.lastWrite);
    if (entry.sizeKnown && !SizeTextIsEmpty(entry.attributes, entry.name)) row.size = FormatSizeText(entry.sizeOnDisk);
    row.image = RowImageIndex(entry.attributes, entry.name);
    row.exact = true;
    row.bytes = entry.bytes;
    row.lastWriteTime = entry.lastWriteTime;
    return row;
}

namespace {

// The row of the drive `letter` when it is one to offer at the root `folder`.
bool DriveRow(FolderSource& source, u16view folder, char16_t letter, PaneRow& row) {
    const char16_t root[] = {letter, u':', u'\\'};
    const u16view rootText(root, 3);
    const RowImage image = DriveImageIndex(source.DriveTypeOf(rootText));
    // The drive being listed is not offered again.
    if (image == kImageNone || CompareNoCase(rootText, folder) == 0) return false;
    row = PaneRow();
    row.name.assign(rootText);
    row.image = image;
    row.exact = true;  // a drive has neither size nor time to tell
    return true;
}

}  // namespace

bool CollectFolderRows(FolderSource& source, u16view folder, const std::function<bool(const PaneRow&)>& add) {
    if (IsDriveRoot(folder)) {
        PaneRow row;
        for (char16_t letter = u'a'; letter <= u'z'; ++letter)
            if (DriveRow(source, folder, letter, row) && !add(row)) return true;
    }
    return source.ListFolder(folder, [&](const FolderEntry& entry) { return add(EntryRow(entry)); });
}

FolderRowReader::FolderRowReader(FolderSource& source, u16view folder)
    : source_(source), folder_(folder), nextDrive_(IsDriveRoot(folder) ? u'a' : u'z' + 1) {}

bool FolderRowReader::Next(PaneRow& row) {
    while (nextDrive_ <= u'z')
        if (DriveRow(source_, folder_, nextDrive_++, row)) return true;
    if (!opened_) {
        opened_ = true;
        cursor_ = source_.OpenFolder(folder_);
    }
    FolderEntry entry;
    if (!cursor_ || !cursor_->Next(entry)) {
        cursor_.reset();  // the search ends as soon as it has nothing more
        return false;
    }
    row = EntryRow(entry);
    return true;
}

}  // namespace quorbel
