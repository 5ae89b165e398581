// The listing: the directory table that answers a "DD" request, sent one
// "DR" record per acknowledgement, and the reading of the peer's records
// into right-pane rows. Between two programs of exact listings the listing
// goes in pages of exact records instead, the folder's search kept open
// from one page to the next, and has no table to fill.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/base/text.h"
#include "core/panes/folder_rows.h"
#include "core/protocol/context.h"
#include "core/protocol/cryptography.h"
#include "core/protocol/files.h"
#include "core/protocol/link.h"
#include "core/protocol/tree_walk.h"

namespace quorbel {

constexpr int32_t kDirSlots = 1024;
constexpr int32_t kDirSlotBytes = 256;  // record + NUL
// The records a plain listing holds: the end record takes the last slot.
constexpr int32_t kMaxDirRecords = kDirSlots - 1;
// The Server's own listing of the Client's folder follows the Client's
// first listing this much later.
constexpr uint32_t kAutoListingDelayMs = 500;

// "DR%06d" + name, date, size and kind separated by commas (wide; converted
// to ANSI for the wire).
u16 FormatRecord(int32_t number, const PaneRow& row);
// The fields of a received record text (after the 8-byte header). False
// unless there are three commas, the first not at 0, the name at most 259
// bytes and the other fields at most 63 bytes each.
bool ParseRecord(const char* text, std::size_t length, const AnsiCodec& codec, PaneRow& row);

// The record of one row in a page: the fields of its plain record (as
// ANSI, without the header), then "," + the size in bytes and "," + the
// last-write time (a FILETIME value, UTC) in decimal. Empty when the fields
// would not pass ParseRecord: such a row is left out whole.
std::string FormatExactRecord(const PaneRow& row, const AnsiCodec& codec);
// A page: "DP", the count of its records in six digits, then that many
// exact records, each ended by a NUL, and nothing else, at most
// kListingPageBytes in all; in a tree listing with hashes each record ends
// in "," and its file's hash (64 hex digits, or "-"). The whole page is
// checked before `take` sees its first row; false, and no row handed out,
// for any other page.
bool ParsePage(const char* bytes, std::size_t length, const AnsiCodec& codec,
               const std::function<void(PaneRow&)>& take, bool hashed = false);

// The records of the last "DD" request, closed by "DR999999", and how far
// they went out.
struct DirectoryTable {
    char slots[kDirSlots][kDirSlotBytes] = {};
    int32_t count = 0;
    int32_t sendIndex = 0;

    void Clear() {
        std::memset(slots, 0, sizeof slots);
        count = sendIndex = 0;
    }
};

// Both ends of a listing: the side asked for one serves its folder's
// records (from its table, or in pages), the side that asked turns them
// into right-pane rows. The monitor's table and the counts of the rows are
// read by the window thread.
class Listing {
public:
    Listing(Exchange& exchange, PeerLink& link, UserSeat& seat, FileStore& files, Cryptography& crypto);

    // A new connection: nothing of the last one's table shows.
    void Clear();
    // An operation of any kind begins.
    void BeginOperation();
    // The peer asked for `folder`: its first record or page leaves; true
    // once the end record went out.
    bool Serve(u16view folder);
    // The peer asked for `folder`'s whole tree (treeListing), with the
    // hashes of its files or not: as Serve.
    bool ServeTree(u16view folder, bool hashes);
    bool ServingTree() const { return tree_ != nullptr; }
    // This side asks for a listing: a tree's with hashes, or any other.
    void Asked(bool hashes) { hashed_ = hashes; }
    // The peer answered the last record or page: the next one; true once
    // the end record went out.
    bool SendNext();
    // The operation ended: a search kept open between pages goes.
    void EndSearch();
    // A message of the listing this side asked for: a record, a page or the
    // end. False when it was a page that breaks the stream, which ends the
    // connection.
    bool Take(const Message& m);
    // The records this side served, or the rows it received.
    uint64_t Rows(bool ours) const;
    // Where the table stood, for a note of this side's refusal.
    RefusalNote Note() const;
    void CopyTable(char out[kDirSlots][kDirSlotBytes]) const;

private:
    void BuildTable(u16view folder);
    bool SendNextTableEntry();
    bool SendNextPage();
    bool AddRemoteRow(int32_t number, const char* text, std::size_t length);
    bool AddRemotePage(const char* bytes, std::size_t length);

    Exchange& exchange_;
    PeerLink& link_;
    UserSeat& seat_;
    FileStore& files_;
    Cryptography& crypto_;
    mutable std::mutex lock_;  // the table and the counts
    DirectoryTable table_;
    int32_t rowsReceived_ = 0;
    int32_t rowsServed_ = 0;
    // The exact listing being served: its search, and the record read
    // ahead that did not fit the last page.
    std::unique_ptr<FolderRowReader> pages_;
    std::unique_ptr<TreeWalk> tree_;
    bool treeHashes_ = false;
    std::string pageHeld_;
    bool hashed_ = false;  // the listing asked for carries hashes
};

}  // namespace quorbel
