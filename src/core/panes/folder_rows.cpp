#include "core/panes/folder_rows.h"

#include "core/base/path_rules.h"

namespace quorbel {

PaneRow EntryRow(const FolderEntry& entry) {
    PaneRow row;
    row.name = entry.name;
    if (entry.lastWriteKnown) row.date = FormatDateText(entry.lastWrite);
    if (entry.sizeKnown && !SizeTextIsEmpty(entry.attributes, entry.name)) row.size = FormatSizeText(entry.sizeOnDisk);
    row.image = RowImageIndex(entry.attributes, entry.name);
    return row;
}

bool CollectFolderRows(FolderSource& source, u16view folder, const std::function<bool(const PaneRow&)>& add) {
    if (IsDriveRoot(folder)) {
        for (char16_t letter = u'a'; letter <= u'z'; ++letter) {
            const char16_t root[] = {letter, u':', u'\\'};
            const u16view rootText(root, 3);
            const RowImage image = DriveImageIndex(source.DriveTypeOf(rootText));
            // The drive being listed is not offered again.
            if (image == kImageNone || CompareNoCase(rootText, folder) == 0) continue;
            PaneRow row;
            row.name.assign(rootText);
            row.image = image;
            if (!add(row)) return true;
        }
    }
    return source.ListFolder(folder, [&](const FolderEntry& entry) { return add(EntryRow(entry)); });
}

}  // namespace quorbel
