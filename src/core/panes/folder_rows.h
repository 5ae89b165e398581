// The rows of a folder as both panes show them and as the directory table
// sends them: the other drives first (at a drive root), then every entry in
// the order the file system gives, each with its date, size and image.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/panes/row_rules.h"

namespace quorbel {

// One entry of a folder search.
struct FolderEntry {
    u16 name;
    uint32_t attributes = 0;
    LocalTimeFields lastWrite;  // last-write time as local calendar fields
    bool lastWriteKnown = false;  // false when the time could not be converted
    uint64_t sizeOnDisk = 0;      // the space the entry takes on disk
    bool sizeKnown = false;       // false when that size could not be read
    uint64_t bytes = 0;           // a file's size in bytes
    uint64_t lastWriteTime = 0;   // a FILETIME value (UTC); 0 when unknown
};

// An open search of one folder, read an entry at a time: a listing sent in
// pages holds the page at hand, never the folder.
class FolderCursor {
public:
    virtual ~FolderCursor() = default;
    // The next entry, as ListFolder would visit it; false at the end.
    virtual bool Next(FolderEntry& entry) = 0;
};

// The file system as the rows see it.
class FolderSource {
public:
    virtual ~FolderSource() = default;
    // The drive type of a root text such as u"d:\\" (kDriveUnknown.. kDriveRamdisk).
    virtual int DriveTypeOf(u16view root) = 0;
    // Calls visit for every entry of the folder (".", ".." and hidden ones
    // included) until it returns false. The size needs reading only where
    // SizeTextIsEmpty is false. False when the search could not start.
    virtual bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) = 0;
    // The same entries, one at a time; null when the search could not start.
    virtual std::unique_ptr<FolderCursor> OpenFolder(u16view folder) = 0;
};

struct PaneRow {
    u16 name, date, size;
    int32_t image = 0;
    // A row of this PC, or of an exact listing between two programs of ours,
    // also knows the size in bytes and the last-write time in full (a
    // FILETIME value, UTC); a plain record gives only the texts above.
    bool exact = false;
    uint64_t bytes = 0;
    uint64_t lastWriteTime = 0;
    // A file's SHA-256 in hex, from a tree listing with hashes; empty when
    // it was not asked for or could not be read.
    std::string hash = {};
};

// The row of one entry: empty date for an unknown time, empty size for ".",
// "..", a plain folder or a size that could not be read.
PaneRow EntryRow(const FolderEntry& entry);

// Drive rows (at a drive root, other than the root itself), then the
// folder's entries; add returns false to stop. False when the folder could
// not be searched (drive rows may have come all the same).
bool CollectFolderRows(FolderSource& source, u16view folder, const std::function<bool(const PaneRow&)>& add);

// The rows of CollectFolderRows read one at a time, the search kept open
// between them.
class FolderRowReader {
public:
    FolderRowReader(FolderSource& source, u16view folder);
    // The next row; false at the end.
    bool Next(PaneRow& row);

private:
    FolderSource& source_;
    u16 folder_;
    char16_t nextDrive_;  // past 'z' once the drive rows are done
    bool opened_ = false;
    std::unique_ptr<FolderCursor> cursor_;
};

}  // namespace quorbel
