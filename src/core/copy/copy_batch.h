// A batch of copies in one direction: the rows the user selected, files and
// folders, each folder with its whole tree (walked by a TreePlan). It keeps
// the queue and what became of each entry, decides what exists already on
// the receiving side (the overwrite question, the files already there),
// counts files and bytes, and names what was skipped or failed. The front
// end performs each step it hands out and reports how it went; nothing here
// touches a file or the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/base/catalogue.h"
#include "core/copy/skip_rule.h"
#include "core/copy/tree_plan.h"
#include "core/protocol/seat.h"

namespace quorbel {

// The answers to the overwrite question.
enum class OverwriteChoice { Ask, Replace, ReplaceIfOlder, Skip, Cancel };

enum class BatchAction {
    ListSource,   // list the source folder `source` (entries of this PC or the peer's rows), then SourceListed
    MakeFolder,   // make the folder `destination`, then FolderMade with its listing
    Ask,          // the file `destination` exists: ask, then Answer
    CopyFile,     // copy `source` to `destination`, then FileEnded
    Confirm,      // list the peer's folder `destination`, then Confirmed
    Done,
};

struct BatchStep {
    BatchAction action = BatchAction::Done;
    u16 source, destination;  // full paths
    uint64_t bytes = 0;       // the file's size as far as it is known
    bool toTheMinute = false; // Ask: the times compared are a listing's, to the minute
    PaneRow incoming, existing;  // Ask: the file to copy and the one it would replace
    int entry = -1;           // the entry it concerns, or -1
};

// Unconfirmed: sent to a plain peer, whose listing is still to show it.
enum class EntryState { Queued, Running, Copied, Skipped, Failed, Unconfirmed };

// Why an entry was skipped or failed.
enum class EntryNote {
    None,
    AlreadyThere,   // same size and time on the receiving side
    NotOlder,       // "only if older" and the existing file is not
    ByUser,         // the user chose to skip it
    Cancelled,      // the user cancelled the batch
    Stopped,        // the user stopped the batch
    Link,
    Special,
    BadName,
    TooLong,
    Incomplete,     // a folder whose listing filled the table
    Unlisted,       // a folder that listed nothing
    FolderNotMade,
    TooLarge,
    NotConfirmed,   // a plain peer's listing does not show it whole
    Refused,        // the peer answered "NAK"
    Failed,
    Kept,           // a plain peer kept its existing file
    Lost,           // the connection ended
    Crowded,        // a folder whose further subfolders would pass the folders a plan keeps waiting
};

struct BatchEntry {
    u16 name;  // below the source folder, parts joined by "\"
    bool folder = false;
    EntryState state = EntryState::Queued;
    EntryNote note = EntryNote::None;
    uint64_t bytes = 0;
};

class CopyBatch {
public:
    // `peerListingRows`: the rows a listing of the peer holds at most;
    // `confirmByListing`: a copy to a plain peer, whose files are counted
    // copied only once its listing of their folder shows them whole.
    CopyBatch(bool toPeer, u16view sourceFolder, u16view destinationFolder, uint64_t maxCopyBytes,
              std::size_t peerListingRows, bool confirmByListing);
    ~CopyBatch();

    // Before the first step: a selected row, and the receiving side's rows
    // of the destination folder.
    void Add(const PaneRow& row);
    void SetDestinationRows(const std::vector<PaneRow>& rows);

    // The step to take now; the same one again until it is reported.
    BatchStep Next();
    // ListSource: the entries of a local folder, or the peer's rows.
    void AddEntry(const FolderEntry& entry);
    void AddRow(const PaneRow& row);
    void SourceListed(bool listed);
    // MakeFolder: made (the listing that shows it) or not.
    void FolderMade(bool made, const std::vector<PaneRow>& listing);
    // Ask.
    void Answer(OverwriteChoice choice, bool forAll);
    // CopyFile.
    void FileEnded(Outcome outcome, uint64_t bytes);
    // CopyFile, MakeFolder or ListSource whose request could not be formed.
    void NotSent(EntryNote why);
    // Confirm: the rows of the peer's listing, or nothing when it failed.
    void Confirmed(bool listed, const std::vector<PaneRow>& rows);
    // The user's stop: the current file ends stopped, the rest is skipped.
    void Stop();

    // What the dialog shows.
    const std::vector<BatchEntry>& Entries() const { return entries_; }
    // The entries changed since the last call.
    std::vector<int> TakeChanged();
    int FilesKnown() const { return filesKnown_; }
    int FilesCopied() const { return filesCopied_; }
    int FilesEnded() const { return filesEnded_; }
    uint64_t BytesKnown() const { return bytesKnown_; }
    uint64_t BytesEnded() const { return bytesEnded_; }
    bool Finished() const { return finished_; }
    bool Stopped() const { return stopped_; }
    bool Cancelled() const { return cancelled_; }

private:
    struct Top;
    void StartTop();
    BatchStep FromPlan();
    BatchStep FileStep(u16view below, int entry);
    BatchStep Decide();
    BatchStep Apply(OverwriteChoice choice, BatchStep step);
    int NewEntry(u16view name, bool folder, uint64_t bytes);
    void Set(int entry, EntryState state, EntryNote note = EntryNote::None);
    void EndAll(EntryNote why);
    void EndFile(int entry, EntryState state, EntryNote note, uint64_t bytes);
    u16 SourcePath(u16view below) const;
    u16 DestinationPath(u16view below) const;
    u16 Below(u16view path) const;
    // A listing of the peer that filled its table may leave out files that exist.
    bool ListingFull(std::size_t rows) const;  // a path of the current tree as the list names it

    // A listing's rows by name, as Windows compares them.
    using Rows = std::map<u16, PaneRow, NoCaseLess>;

    const bool toPeer_;
    const u16 sourceFolder_, destinationFolder_;
    const uint64_t maxCopyBytes_;
    const std::size_t peerListingRows_;
    const bool confirmByListing_;

    std::vector<PaneRow> tops_;     // the selected rows, files first
    std::size_t nextTop_ = 0;
    Rows topDestination_;           // the destination folder's rows
    bool topDestinationFull_ = false;  // ... from a listing that filled the peer's table

    std::unique_ptr<TreePlan> plan_;  // the folder at hand, or none
    u16 treeName_;                     // its name
    int treeEntry_ = -1;
    Rows sourceRows_;                  // the source folder being walked
    Rows destinationRows_;             // its copy on the receiving side
    bool destinationFull_ = false;     // ... listed by a listing that filled the table

    bool held_ = false;  // `step_` was handed out and is not reported yet
    BatchStep step_;
    TreeStep treeStep_;   // the plan's step held back while a folder's files are confirmed
    bool treeStepHeld_ = false;
    PaneRow fileRow_;     // the source row of the file at hand
    bool replaces_ = false;  // "only if older" replaces the file at hand
    OverwriteChoice always_ = OverwriteChoice::Ask;
    struct Unconfirmed {
        int entry;
        u16 name;
        uint64_t bytes;
    };
    std::vector<Unconfirmed> unconfirmed_;
    u16 unconfirmedFolder_;

    std::vector<BatchEntry> entries_;
    std::vector<int> changed_;
    int filesKnown_ = 0, filesCopied_ = 0, filesEnded_ = 0;
    uint64_t bytesKnown_ = 0, bytesEnded_ = 0;
    bool finished_ = false, stopped_ = false, cancelled_ = false;
};

// What the list shows of an entry, and the summary at the end: the counts,
// then what failed and what was skipped, each with its reason, at most
// `maxNamed` names of each.
const char16_t* EntryStateText(EntryState state);
const char16_t* EntryNoteText(EntryNote note);  // empty for None
u16 BatchSummaryText(const CopyBatch& batch, std::size_t maxNamed = 200);
// An amount of bytes as progress shows it: "512 B", "12.3 KB", "45.6 MB", "7.8 GB".
u16 AmountText(uint64_t bytes);

}  // namespace quorbel
