#include "core/copy/copy_batch.h"

#include <algorithm>
#include <string>
#include <utility>

#include "core/base/limits.h"
#include "core/base/path_rules.h"
#include "core/panes/row_rules.h"

namespace quorbel {

namespace {

u16 Join(u16view folder, u16view name) {
    u16 path(folder);
    if (!path.empty() && path.back() != u'\\') path += u'\\';
    return path += name;
}

bool IsEntryRow(const PaneRow& row) { return !IsDriveImage(row.image) && !(row.image == kImageDot && IsDotEntry(row.name)); }

// The size a row stands for: exact, or as its text gives it.
uint64_t RowBytes(const PaneRow& row) { return row.exact ? row.bytes : SizeTextBytes(row.size); }

BatchStep Step(BatchAction action, u16 source, u16 destination, uint64_t bytes = 0, int entry = -1) {
    BatchStep step;
    step.action = action;
    step.source = std::move(source);
    step.destination = std::move(destination);
    step.bytes = bytes;
    step.entry = entry;
    return step;
}


EntryNote NoteOf(TreeSkip reason) {
    switch (reason) {
        case TreeSkip::Link: return EntryNote::Link;
        case TreeSkip::Special: return EntryNote::Special;
        case TreeSkip::BadName: return EntryNote::BadName;
        case TreeSkip::TooLong: return EntryNote::TooLong;
        case TreeSkip::Incomplete: return EntryNote::Incomplete;
        case TreeSkip::Unlisted: return EntryNote::Unlisted;
        case TreeSkip::Crowded: return EntryNote::Crowded;
        case TreeSkip::None: break;
    }
    return EntryNote::None;
}

}  // namespace

CopyBatch::CopyBatch(bool toPeer, u16view sourceFolder, u16view destinationFolder, uint64_t maxCopyBytes,
                     std::size_t peerListingRows, bool confirmByListing)
    : toPeer_(toPeer), sourceFolder_(sourceFolder), destinationFolder_(destinationFolder),
      maxCopyBytes_(maxCopyBytes), peerListingRows_(peerListingRows), confirmByListing_(confirmByListing) {}

CopyBatch::~CopyBatch() = default;

void CopyBatch::Add(const PaneRow& row) {
    if (!IsEntryRow(row) || !entries_.empty()) return;
    // Files first, so that they meet the destination folder's own rows.
    const bool folder = row.image == kImageFolder;
    auto at = folder ? tops_.end()
                     : std::find_if(tops_.begin(), tops_.end(), [](const PaneRow& r) { return r.image == kImageFolder; });
    tops_.insert(at, row);
}

void CopyBatch::SetDestinationRows(const std::vector<PaneRow>& rows) {
    topDestination_.clear();
    for (const PaneRow& row : rows)
        if (IsEntryRow(row)) topDestination_.emplace(row.name, row);
    topDestinationFull_ = ListingFull(rows.size());
}

bool CopyBatch::ListingFull(std::size_t rows) const { return toPeer_ && rows >= peerListingRows_; }

int CopyBatch::NewEntry(u16view name, bool folder, uint64_t bytes) {
    BatchEntry entry;
    entry.name = u16(name);
    entry.folder = folder;
    entry.bytes = bytes;
    entries_.push_back(std::move(entry));
    changed_.push_back(int(entries_.size()) - 1);
    return int(entries_.size()) - 1;
}

void CopyBatch::Set(int entry, EntryState state, EntryNote note) {
    if (entry < 0) return;
    entries_[entry].state = state;
    entries_[entry].note = note;
    changed_.push_back(entry);
}

std::vector<int> CopyBatch::TakeChanged() {
    std::vector<int> changed;
    changed.swap(changed_);
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    return changed;
}

u16 CopyBatch::Below(u16view path) const { return path.empty() ? treeName_ : Join(treeName_, path); }
u16 CopyBatch::SourcePath(u16view below) const { return Join(sourceFolder_, below); }
u16 CopyBatch::DestinationPath(u16view below) const { return Join(destinationFolder_, below); }

void CopyBatch::EndFile(int entry, EntryState state, EntryNote note, uint64_t bytes) {
    Set(entry, state, note);
    ++filesEnded_;
    bytesEnded_ += bytes;
    if (state == EntryState::Copied) ++filesCopied_;
}

void CopyBatch::EndAll(EntryNote why) {
    for (const Unconfirmed& u : unconfirmed_) Set(u.entry, EntryState::Failed, EntryNote::NotConfirmed);
    unconfirmed_.clear();
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].state == EntryState::Queued || entries_[i].state == EntryState::Running)
            Set(int(i), EntryState::Skipped, why);
    plan_.reset();
    finished_ = true;
}

BatchStep CopyBatch::Next() {
    if (held_) return step_;
    if (entries_.empty() && !tops_.empty()) {
        for (const PaneRow& row : tops_) {
            const bool folder = row.image == kImageFolder;
            NewEntry(row.name, folder, folder ? 0 : RowBytes(row));
            if (!folder) ++filesKnown_, bytesKnown_ += RowBytes(row);
        }
        destinationRows_ = topDestination_;
        destinationFull_ = topDestinationFull_;
    }
    if (!finished_ && (stopped_ || cancelled_)) {
        if (!unconfirmed_.empty()) {
            step_ = Step(BatchAction::Confirm, u16(), unconfirmedFolder_);
            held_ = true;
            return step_;
        }
        EndAll(cancelled_ ? EntryNote::Cancelled : EntryNote::Stopped);
    }
    if (finished_) return BatchStep();
    step_ = Decide();
    held_ = step_.action != BatchAction::Done;
    if (!held_) EndAll(EntryNote::Stopped);
    return step_;
}

BatchStep CopyBatch::Decide() {
    for (;;) {
        if (plan_) {
            BatchStep step = FromPlan();
            if (step.action != BatchAction::Done) return step;
            if (entries_[treeEntry_].state == EntryState::Running) Set(treeEntry_, EntryState::Copied);
            plan_.reset();
            continue;
        }
        const bool topFilesDone = nextTop_ >= tops_.size() || tops_[nextTop_].image == kImageFolder;
        if (!unconfirmed_.empty() && topFilesDone) return Step(BatchAction::Confirm, u16(), unconfirmedFolder_);
        if (nextTop_ >= tops_.size()) return BatchStep();
        const int entry = int(nextTop_);
        const PaneRow& row = tops_[nextTop_++];
        if (!IsPlainFileName(row.name)) {
            // The name would land elsewhere than the folder it is copied to.
            if (row.image == kImageFolder) Set(entry, EntryState::Failed, EntryNote::BadName);
            else EndFile(entry, EntryState::Failed, EntryNote::BadName, entries_[entry].bytes);
            continue;
        }
        if (row.image == kImageFolder) {
            treeName_ = row.name;
            treeEntry_ = entry;
            const u16 source = SourcePath(row.name), destination = DestinationPath(row.name);
            if (std::max(source.size(), destination.size()) > kMaxPath) {
                Set(entry, EntryState::Failed, EntryNote::TooLong);
                continue;
            }
            Set(entry, EntryState::Running);
            plan_ = std::make_unique<TreePlan>(RoomBelow(source.size() > destination.size() ? source : destination),
                                               toPeer_ ? kMaxTreeFolderEntries : peerListingRows_);
            continue;
        }
        fileRow_ = row;
        BatchStep step = FileStep(row.name, entry);
        if (step.action != BatchAction::Done) return step;
    }
}

BatchStep CopyBatch::FromPlan() {
    for (;;) {
        TreeStep tree;
        if (treeStepHeld_) tree = std::move(treeStep_), treeStepHeld_ = false;
        else tree = plan_->Next();
        if (!unconfirmed_.empty() && (tree.action == TreeAction::List || tree.action == TreeAction::Done)) {
            // A plain peer's files are confirmed before the copy leaves their folder.
            treeStep_ = std::move(tree);
            treeStepHeld_ = true;
            return Step(BatchAction::Confirm, u16(), unconfirmedFolder_);
        }
        switch (tree.action) {
            case TreeAction::List:
                sourceRows_.clear();
                return Step(BatchAction::ListSource, SourcePath(Below(tree.path)), u16());
            case TreeAction::MakeFolder: {
                const int entry = tree.path.empty() ? treeEntry_ : NewEntry(Below(tree.path), true, 0);
                if (entry != treeEntry_) Set(entry, EntryState::Running);
                return Step(BatchAction::MakeFolder, u16(), DestinationPath(Below(tree.path)), 0, entry);
            }
            case TreeAction::CopyFile: {
                const auto found = sourceRows_.find(u16(FileNameOf(tree.path)));
                if (found != sourceRows_.end()) fileRow_ = found->second;
                else fileRow_ = PaneRow(), fileRow_.bytes = tree.bytes;
                const uint64_t bytes = found != sourceRows_.end() ? RowBytes(fileRow_) : tree.bytes;
                const int entry = NewEntry(Below(tree.path), false, bytes);
                ++filesKnown_;
                bytesKnown_ += bytes;
                BatchStep step = FileStep(Below(tree.path), entry);
                if (step.action != BatchAction::Done) return step;
                continue;
            }
            case TreeAction::Skip: {
                const bool folderNote = tree.reason == TreeSkip::Incomplete || tree.reason == TreeSkip::Unlisted ||
                                        tree.reason == TreeSkip::Crowded;
                const int entry = NewEntry(Below(tree.path), folderNote, 0);
                // Links and special files are never copied; a full listing is a warning.
                const bool skipped = SkipIsByKind(tree.reason) || tree.reason == TreeSkip::Incomplete;
                Set(entry, skipped ? EntryState::Skipped : EntryState::Failed, NoteOf(tree.reason));
                if (tree.reason == TreeSkip::Unlisted && tree.path.empty()) Set(treeEntry_, EntryState::Failed, EntryNote::Unlisted);
                continue;
            }
            case TreeAction::Done:
                return BatchStep();
        }
    }
}

// The file `below` the source folder, or what became of it without a copy
// (then the step is Done).
BatchStep CopyBatch::FileStep(u16view below, int entry) {
    BatchStep step = Step(BatchAction::CopyFile, SourcePath(below), DestinationPath(below), entries_[entry].bytes, entry);
    Set(entry, EntryState::Running);
    if (std::max(step.source.size(), step.destination.size()) > kMaxPath) {
        EndFile(entry, EntryState::Failed, EntryNote::TooLong, step.bytes);
        return BatchStep();
    }
    if (step.bytes > maxCopyBytes_) {
        EndFile(entry, EntryState::Failed, EntryNote::TooLarge, step.bytes);
        return BatchStep();
    }
    const auto existing = destinationRows_.find(u16(FileNameOf(below)));
    if (existing == destinationRows_.end() && !destinationFull_) return step;
    // A file missing from a full listing may exist all the same: it is
    // asked about as one whose size and time nobody knows.
    PaneRow unknown;
    unknown.name = u16(FileNameOf(below));
    const PaneRow& there = existing == destinationRows_.end() ? unknown : existing->second;
    const Comparison how = CompareExisting(fileRow_, there);
    if (Skips(SkipRule::SameSizeAndTime, &how) != SkipWhy::None) {
        // Already there: nothing to move, and nothing to ask.
        EndFile(entry, EntryState::Skipped, EntryNote::AlreadyThere, step.bytes);
        return BatchStep();
    }
    replaces_ = Skips(SkipRule::Update, &how) == SkipWhy::None;
    step.toTheMinute = how.toTheMinute;
    step.incoming = fileRow_;
    step.existing = there;
    if (always_ == OverwriteChoice::Ask) {
        step.action = BatchAction::Ask;
        return step;
    }
    return Apply(always_, step);
}

BatchStep CopyBatch::Apply(OverwriteChoice choice, BatchStep step) {
    step.action = BatchAction::CopyFile;
    switch (choice) {
        case OverwriteChoice::Ask:
        case OverwriteChoice::Replace: return step;
        case OverwriteChoice::ReplaceIfOlder:
            if (replaces_) return step;
            EndFile(step.entry, EntryState::Skipped, EntryNote::NotOlder, step.bytes);
            break;
        case OverwriteChoice::Skip: EndFile(step.entry, EntryState::Skipped, EntryNote::ByUser, step.bytes); break;
        case OverwriteChoice::Cancel:
            EndFile(step.entry, EntryState::Skipped, EntryNote::Cancelled, step.bytes);
            cancelled_ = true;
            break;
    }
    return BatchStep();
}

void CopyBatch::Answer(OverwriteChoice choice, bool forAll) {
    if (!held_ || step_.action != BatchAction::Ask) return;
    if (forAll && choice != OverwriteChoice::Cancel) always_ = choice;
    step_ = Apply(choice, step_);
    held_ = step_.action != BatchAction::Done;
}

void CopyBatch::AddEntry(const FolderEntry& entry) {
    if (!plan_ || !held_ || step_.action != BatchAction::ListSource) return;
    plan_->AddEntry(entry);
    if (!(entry.attributes & kAttrDirectory)) sourceRows_.emplace(entry.name, EntryRow(entry));
}

void CopyBatch::AddRow(const PaneRow& row) {
    if (!plan_ || !held_ || step_.action != BatchAction::ListSource) return;
    plan_->AddRow(row);
    if (row.image != kImageFolder && IsEntryRow(row)) sourceRows_.emplace(row.name, row);
}

void CopyBatch::SourceListed(bool listed) {
    if (!held_ || step_.action != BatchAction::ListSource) return;
    if (plan_) plan_->EndListing(listed);
    held_ = false;
}

void CopyBatch::FolderMade(bool made, const std::vector<PaneRow>& listing) {
    if (!held_ || step_.action != BatchAction::MakeFolder) return;
    held_ = false;
    if (!made) {
        Set(step_.entry, EntryState::Failed, EntryNote::FolderNotMade);
        if (plan_) plan_->FolderFailed();
        return;
    }
    if (step_.entry != treeEntry_) Set(step_.entry, EntryState::Copied);
    destinationRows_.clear();
    for (const PaneRow& row : listing)
        if (IsEntryRow(row)) destinationRows_.emplace(row.name, row);
    destinationFull_ = ListingFull(listing.size());
}

void CopyBatch::FileEnded(Outcome outcome, uint64_t bytes) {
    if (!held_ || step_.action != BatchAction::CopyFile) return;
    held_ = false;
    const int entry = step_.entry;
    switch (outcome) {
        case Outcome::Done:
            // What moved is the size from now on, where a listing gave it roughly.
            bytesKnown_ = bytesKnown_ - entries_[entry].bytes + bytes;
            entries_[entry].bytes = bytes;
            if (!confirmByListing_) return EndFile(entry, EntryState::Copied, EntryNote::None, bytes);
            Set(entry, EntryState::Unconfirmed);
            unconfirmed_.push_back({entry, u16(FileNameOf(step_.destination)), bytes});
            unconfirmedFolder_ = ParentPath(step_.destination);
            ++filesEnded_;
            bytesEnded_ += bytes;
            return;
        case Outcome::Stopped:
            stopped_ = true;
            return EndFile(entry, EntryState::Skipped, EntryNote::Stopped, entries_[entry].bytes);
        case Outcome::Lost:
            stopped_ = true;
            EndFile(entry, EntryState::Failed, EntryNote::Lost, entries_[entry].bytes);
            return EndAll(EntryNote::Lost);
        case Outcome::Refused: return EndFile(entry, EntryState::Failed, EntryNote::Refused, entries_[entry].bytes);
        case Outcome::Kept: return EndFile(entry, EntryState::Failed, EntryNote::Kept, entries_[entry].bytes);
        default: return EndFile(entry, EntryState::Failed, EntryNote::Failed, entries_[entry].bytes);
    }
}

void CopyBatch::NotSent(EntryNote why) {
    if (!held_) return;
    switch (step_.action) {
        case BatchAction::CopyFile:
            held_ = false;
            return EndFile(step_.entry, EntryState::Failed, why, entries_[step_.entry].bytes);
        case BatchAction::MakeFolder: return FolderMade(false, {});
        case BatchAction::ListSource: return SourceListed(false);
        case BatchAction::Confirm: return Confirmed(false, {});
        default: return;
    }
}

void CopyBatch::Confirmed(bool listed, const std::vector<PaneRow>& rows) {
    if (!held_ || step_.action != BatchAction::Confirm) return;
    held_ = false;
    Rows shown;
    if (listed)
        for (const PaneRow& row : rows)
            if (IsEntryRow(row)) shown.emplace(row.name, row);
    for (const Unconfirmed& u : unconfirmed_) {
        const auto found = shown.find(u.name);
        // A size text from 10 K on is cut to its unit: compared as the peer forms it.
        const bool whole = found != shown.end() && SizeText(found->second) == FormatSizeText(u.bytes);
        Set(u.entry, whole ? EntryState::Copied : EntryState::Failed, whole ? EntryNote::None : EntryNote::NotConfirmed);
        if (whole) ++filesCopied_;
    }
    unconfirmed_.clear();
}

void CopyBatch::Stop() {
    if (!finished_) stopped_ = true;
}

const char16_t* EntryStateText(EntryState state) {
    static const char16_t* const kTexts[] = {texts::kStateQueued,  texts::kStateRunning, texts::kStateCopied,
                                             texts::kStateSkipped, texts::kStateFailed,  texts::kStateUnconfirmed};
    return kTexts[int(state)];
}

const char16_t* EntryNoteText(EntryNote note) {
    static const char16_t* const kTexts[] = {
        u"", texts::kNoteAlreadyThere, texts::kNoteNotOlder, texts::kNoteByUser, texts::kNoteCancelled,
        texts::kNoteStopped, texts::kNoteLink, texts::kNoteSpecial, texts::kNoteBadName, texts::kNoteTooLong,
        texts::kNoteIncomplete, texts::kNoteUnlisted, texts::kNoteFolderNotMade, texts::kNoteTooLarge,
        texts::kNoteNotConfirmed, texts::kNoteRefused, texts::kNoteFailed, texts::kNoteKept, texts::kNoteLost,
        texts::kNoteCrowded};
    static_assert(sizeof kTexts / sizeof kTexts[0] == int(EntryNote::Crowded) + 1, "a text for every note");
    return kTexts[int(note)];
}

u16 AmountText(uint64_t bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024) return FromAscii(std::to_string(bytes) + " B");
    int unit = 0;
    uint64_t divisor = 1024;
    while (bytes / divisor >= 1024 && unit < 3) divisor *= 1024, ++unit;
    const uint64_t tenths = bytes / divisor * 10 + bytes % divisor * 10 / divisor;
    return FromAscii(std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + kUnits[unit]);
}

u16 BatchSummaryText(const CopyBatch& batch, std::size_t maxNamed) {
    int skipped = 0, failed = 0;
    for (const BatchEntry& e : batch.Entries()) {
        skipped += e.state == EntryState::Skipped;
        failed += e.state == EntryState::Failed;
    }
    u16 text = FormatText(texts::kSummaryCounts, {batch.FilesCopied(), skipped, failed});
    for (EntryState state : {EntryState::Failed, EntryState::Skipped}) {
        std::size_t named = 0, more = 0;
        for (const BatchEntry& e : batch.Entries()) {
            if (e.state != state) continue;
            if (named == 0) text += u"\r\n", text += state == EntryState::Failed ? texts::kSummaryFailed : texts::kSummarySkipped;
            if (named++ >= maxNamed) {
                ++more;
                continue;
            }
            text += u"\r\n" + e.name + u"（" + EntryNoteText(e.note) + u"）";
        }
        if (more > 0) text += u"\r\n" + FormatText(texts::kSummaryMore, {static_cast<long long>(more)});
    }
    return text;
}

}  // namespace quorbel
