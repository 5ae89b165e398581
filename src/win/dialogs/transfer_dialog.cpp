// The transfer dialog: a batch of copies in one direction, walked by the
// core's CopyBatch. It performs each step the batch hands out (a listing, a
// folder, a file, the question about an existing file) and starts the next
// one as soon as the connection reports the last one ended; it shows the
// queue, the file at hand, the progress of the file and of the batch, and
// at the end the summary, which stays until the user closes it.
#include "win/dialogs/dialogs.h"

#include <commctrl.h>

#include <algorithm>

#include "core/copy/copy_batch.h"
#include "win/res/resource.h"
#include "win/base/dialog_state.h"
#include "win/base/msgbox.h"
#include "win/base/win_files.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;
using quorbel::BatchAction;

constexpr UINT_PTR kProgressTimer = 1;  // the bars, the speed and the time left
constexpr UINT_PTR kGapTimer = 2;       // the pause a plain peer needs after a message of ours
constexpr UINT kProgressPeriodMs = 200;
constexpr int kBarRange = 1000;

enum class Awaiting { Nothing, Listing, Folder, FolderListing, Copy, Confirm, FinalListing };

struct TransferState {
    explicit TransferState(TransferRequest& r)
        : request(r), batch(r.toPeer, AsU16View(r.sourceFolder), AsU16View(r.destinationFolder),
                            r.protocol.MaxCopyBytes(),
                            r.protocol.PeerListingEntries(),
                            // A plain peer does not answer an end record: its listing tells.
                            r.toPeer && !r.protocol.Agreed().endRecordsAnswered) {}
    TransferRequest& request;
    quorbel::CopyBatch batch;
    Awaiting awaiting = Awaiting::Nothing;
    quorbel::BatchStep step;
    bool inPump = false, pumpAgain = false;
    bool gap = false;         // the plain peer's pause runs
    bool linkBroken = false;  // a request could not be sent
    bool finished = false;
    DWORD started = GetTickCount();
    uint64_t moved = 0;       // bytes of the copies that ended
};

quorbel::u16view View(const quorbel::u16& text) { return text; }

HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

void SetText(HWND dialog, int id, quorbel::u16view text) { SetDlgItemTextW(dialog, id, ToWide(text).c_str()); }

void SetBar(HWND dialog, int id, uint64_t part, uint64_t whole) {
    const uint64_t at = whole == 0 ? 0 : std::min<uint64_t>(kBarRange, part * kBarRange / whole);
    SendMessageW(Item(dialog, id), PBM_SETPOS, WPARAM(at), 0);
}

void SetCell(HWND list, int row, int column, quorbel::u16view text) {
    std::wstring wide = ToWide(text);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = wide.data();
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// The rows of the entries that changed, new ones appended.
void ShowEntries(HWND dialog, TransferState& s) {
    HWND list = Item(dialog, IDC_TRANSFER_LIST);
    const auto& entries = s.batch.Entries();
    int running = -1;
    for (int i : s.batch.TakeChanged()) {
        const quorbel::BatchEntry& e = entries[i];
        if (i >= SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) {
            std::wstring name = ToWide(e.folder ? e.name + u"\\" : e.name);
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = name.data();
            SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
        SetCell(list, i, 1, quorbel::EntryStateText(e.state));
        SetCell(list, i, 2, quorbel::EntryNoteText(e.note));
        if (e.state == quorbel::EntryState::Running) running = i;
    }
    if (running >= 0) SendMessageW(list, LVM_ENSUREVISIBLE, running, FALSE);
}

void ShowProgress(HWND dialog, TransferState& s) {
    const quorbel::Protocol& protocol = s.request.protocol;
    const bool copying = s.awaiting == Awaiting::Copy;
    if (copying) SetText(dialog, IDC_TRANSFER_CURRENT, quorbel::FormatText(texts::kBatchCurrent, {View(s.step.source)}));
    const uint64_t current = copying ? protocol.TransferredBytes() : 0;
    SetBar(dialog, IDC_TRANSFER_FILE_BAR, current, copying ? s.step.bytes : 0);
    const uint64_t done = s.batch.BytesEnded() + current, known = s.batch.BytesKnown();
    SetBar(dialog, IDC_TRANSFER_BATCH_BAR, done, known);
    SetText(dialog, IDC_TRANSFER_TOTALS,
            quorbel::FormatText(texts::kBatchFiles, {s.batch.FilesEnded(), s.batch.FilesKnown(),
                                                     View(quorbel::AmountText(done)), View(quorbel::AmountText(known))}));
    const DWORD elapsed = std::max<DWORD>(1, GetTickCount() - s.started);
    const uint64_t perSecond = (s.moved + current) * 1000 / elapsed;
    const long long left = perSecond == 0 || known <= done ? 0 : static_cast<long long>((known - done) / perSecond);
    SetText(dialog, IDC_TRANSFER_SPEED, quorbel::FormatText(texts::kBatchSpeed, {View(quorbel::AmountText(perSecond)), left}));
}

// ---- The overwrite question ----

struct OverwriteState {
    const quorbel::BatchStep& step;
    quorbel::OverwriteChoice choice = quorbel::OverwriteChoice::Cancel;
    bool forAll = false;
};

quorbel::u16 RowFacts(const quorbel::PaneRow& row) {
    return row.exact ? quorbel::FromAscii(std::to_string(row.bytes)) + u" B" : row.size;
}

INT_PTR CALLBACK OverwriteProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        KeepDialogState(dialog, reinterpret_cast<OverwriteState*>(lParam));
        const quorbel::BatchStep& step = DialogState<OverwriteState>(dialog).step;
        quorbel::u16 text = quorbel::FormatText(texts::kOverwriteExists, {View(step.destination)});
        text += u"\r\n" + quorbel::FormatText(texts::kOverwriteSource, {View(step.incoming.date), View(RowFacts(step.incoming))});
        text += u"\r\n" +
                quorbel::FormatText(texts::kOverwriteDestination, {View(step.existing.date), View(RowFacts(step.existing))});
        if (step.toTheMinute) text += u"\r\n" + quorbel::u16(texts::kOverwriteToTheMinute);
        SetText(dialog, IDC_OVERWRITE_TEXT, text);
        return TRUE;
    }
    if (message != WM_COMMAND || GetWindowLongPtrW(dialog, DWLP_USER) == 0) {
        if (message == WM_CLOSE) return EndDialog(dialog, 0), TRUE;  // as "中止"
        return FALSE;
    }
    OverwriteState& s = DialogState<OverwriteState>(dialog);
    switch (LOWORD(wParam)) {
        case IDC_OVERWRITE_REPLACE: s.choice = quorbel::OverwriteChoice::Replace; break;
        case IDC_OVERWRITE_OLDER: s.choice = quorbel::OverwriteChoice::ReplaceIfOlder; break;
        case IDC_OVERWRITE_SKIP: s.choice = quorbel::OverwriteChoice::Skip; break;
        case IDC_OVERWRITE_CANCEL:
        case IDCANCEL: s.choice = quorbel::OverwriteChoice::Cancel; break;
        default: return FALSE;
    }
    s.forAll = IsDlgButtonChecked(dialog, IDC_OVERWRITE_ALL) == BST_CHECKED;
    EndDialog(dialog, 1);
    return TRUE;
}

void Ask(HWND dialog, TransferState& s) {
    OverwriteState answer{s.step};
    DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_OVERWRITE), dialog, OverwriteProc,
                    reinterpret_cast<LPARAM>(&answer));
    s.batch.Answer(answer.choice, answer.forAll);
}

// ---- The steps ----

std::vector<quorbel::PaneRow> LocalRows(quorbel::u16view folder) {
    WinFolderSource source;
    std::vector<quorbel::PaneRow> rows;
    quorbel::CollectFolderRows(source, folder, [&](const quorbel::PaneRow& row) { return rows.push_back(row), true; });
    return rows;
}

bool MakeLocalFolder(quorbel::u16view path) {
    const std::wstring wide = ToWide(path);
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    // An existing folder takes the copy, never a link of that name.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// What a Start* call gave: sent (the end is awaited), or not.
bool Sent(TransferState& s, int result, Awaiting awaiting) {
    if (result == 0) {
        s.awaiting = awaiting;
        return true;
    }
    if (result == quorbel::kRequestTooLong) {
        s.batch.NotSent(quorbel::EntryNote::TooLong);
        return false;
    }
    // The send failed (its box was shown): nothing more goes out.
    s.linkBroken = true;
    s.batch.Stop();
    s.batch.NotSent(quorbel::EntryNote::Lost);
    return false;
}

void Finish(HWND dialog, TransferState& s) {
    s.finished = true;
    s.awaiting = Awaiting::Nothing;
    KillTimer(dialog, kProgressTimer);
    s.request.protocol.ClearStop();
    ShowEntries(dialog, s);
    ShowProgress(dialog, s);
    SetText(dialog, IDC_TRANSFER_CURRENT, texts::kBatchFinished);
    SetText(dialog, IDC_TRANSFER_SUMMARY, quorbel::BatchSummaryText(s.batch));
    EnableWindow(Item(dialog, IDC_TRANSFER_STOP), FALSE);
    EnableWindow(Item(dialog, IDC_TRANSFER_CLOSE), TRUE);
    SetFocus(Item(dialog, IDC_TRANSFER_CLOSE));
}

// Takes the steps that need no answer of the peer, and sends the next
// request that does.
void Pump(HWND dialog, TransferState& s) {
    if (s.inPump) {
        s.pumpAgain = true;
        return;
    }
    quorbel::Protocol& protocol = s.request.protocol;
    s.inPump = true;
    do {
        s.pumpAgain = false;
        // A request of the peer being served ends with a report of its own.
        while (!s.finished && s.awaiting == Awaiting::Nothing && !s.gap && protocol.IsWaiting()) {
            s.step = s.batch.Next();
            const bool toPeer = s.request.toPeer;
            if (s.step.action == BatchAction::Done) {
                ShowEntries(dialog, s);
                if (s.linkBroken || s.request.remoteFolder.empty() ||
                    !Sent(s, protocol.StartListing(AsU16View(s.request.remoteFolder)), Awaiting::FinalListing))
                    Finish(dialog, s);
                break;
            }
            switch (s.step.action) {
                case BatchAction::ListSource:
                    if (toPeer) {
                        WinFolderSource source;
                        const bool listed = source.ListFolder(
                            s.step.source, [&](const quorbel::FolderEntry& e) { return s.batch.AddEntry(e), true; });
                        s.batch.SourceListed(listed);
                    } else {
                        Sent(s, protocol.StartListing(s.step.source), Awaiting::Listing);
                    }
                    break;
                case BatchAction::MakeFolder:
                    if (!toPeer) {
                        const bool made = MakeLocalFolder(s.step.destination);
                        s.batch.FolderMade(made, made ? LocalRows(s.step.destination) : std::vector<quorbel::PaneRow>());
                        break;
                    }
                    // The peer answers "ACK" whether or not it made the folder; the
                    // listing that follows, of the folder itself, tells.
                    protocol.SetRemoteFolderPath(s.step.destination);
                    Sent(s, protocol.StartCreateFolder(s.step.destination), Awaiting::Folder);
                    break;
                case BatchAction::Ask:
                    ShowEntries(dialog, s);
                    Ask(dialog, s);
                    break;
                case BatchAction::CopyFile:
                    Sent(s,
                         toPeer ? protocol.StartCopyTo(s.step.source, s.step.destination)
                                : protocol.StartCopyFrom(s.step.source, s.step.destination),
                         Awaiting::Copy);
                    break;
                case BatchAction::Confirm:
                    Sent(s, protocol.StartListing(s.step.destination), Awaiting::Confirm);
                    break;
                case BatchAction::Done: break;
            }
        }
    } while (s.pumpAgain);
    s.inPump = false;
}

void OnEnded(HWND dialog, TransferState& s, const quorbel::OperationReport& report) {
    const quorbel::Protocol& protocol = s.request.protocol;
    // After a message a plain peer leaves unanswered, the next request waits.
    if (!protocol.FastMode() && (!report.ours || report.operation == quorbel::Operation::Send ||
                                 report.outcome == quorbel::Outcome::Failed || report.outcome == quorbel::Outcome::Stopped)) {
        s.gap = true;
        SetTimer(dialog, kGapTimer, quorbel::kPlainGapMs, nullptr);
    }
    if (!report.ours) return;
    const bool done = report.outcome == quorbel::Outcome::Done;
    const bool listing = report.operation == quorbel::Operation::List;
    switch (s.awaiting) {
        case Awaiting::Nothing: return;
        case Awaiting::Listing: {
            if (!listing) return;
            const std::vector<quorbel::PaneRow> rows = s.request.feed.Rows();
            if (done)
                for (const quorbel::PaneRow& row : rows) s.batch.AddRow(row);
            s.batch.SourceListed(done && !rows.empty());
            break;
        }
        case Awaiting::Folder:
            if (report.operation != quorbel::Operation::MakeFolder) return;
            if (done) {
                s.awaiting = Awaiting::FolderListing;
                return;
            }
            s.batch.FolderMade(false, {});
            break;
        case Awaiting::FolderListing: {
            if (!listing) return;
            const std::vector<quorbel::PaneRow> rows = s.request.feed.Rows();
            s.batch.FolderMade(done && !rows.empty(), rows);
            break;
        }
        case Awaiting::Copy:
            if (listing || report.operation == quorbel::Operation::MakeFolder) return;
            s.moved += report.bytes;
            s.batch.FileEnded(report.outcome, report.bytes);
            s.request.protocol.ClearStop();
            if (report.outcome == quorbel::Outcome::Lost) s.linkBroken = true;
            break;
        case Awaiting::Confirm:
            if (!listing) return;
            s.batch.Confirmed(done, s.request.feed.Rows());
            break;
        case Awaiting::FinalListing:
            if (!listing) return;
            s.awaiting = Awaiting::Nothing;
            return Finish(dialog, s);
    }
    s.awaiting = Awaiting::Nothing;
}

void OnInitDialog(HWND dialog, TransferState& s) {
    SetText(dialog, IDC_TRANSFER_NOTE, texts::kBatchNote);
    HWND list = Item(dialog, IDC_TRANSFER_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    RECT box;
    GetClientRect(list, &box);
    const int width = box.right - box.left - GetSystemMetrics(SM_CXVSCROLL);
    const std::pair<const char16_t*, int> columns[] = {
        {texts::kBatchColumnName, width * 5 / 10}, {texts::kBatchColumnState, width * 15 / 100},
        {texts::kBatchColumnNote, width * 35 / 100}};
    for (int i = 0; i < 3; ++i) {
        std::wstring title = ToWide(columns[i].first);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = title.data();
        column.cx = columns[i].second;
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    for (int id : {IDC_TRANSFER_FILE_BAR, IDC_TRANSFER_BATCH_BAR})
        SendMessageW(Item(dialog, id), PBM_SETRANGE32, 0, kBarRange);
    EnableWindow(Item(dialog, IDC_TRANSFER_CLOSE), FALSE);
    for (const quorbel::PaneRow& row : s.request.rows) s.batch.Add(row);
    s.batch.SetDestinationRows(s.request.destinationRows);
    s.request.feed.Attach(dialog);
    s.request.protocol.ClearStop();
    SetTimer(dialog, kProgressTimer, kProgressPeriodMs, nullptr);
    // Shown first, then the first step.
    PostMessageW(dialog, kTransferStepMessage, 0, 0);
}

INT_PTR CALLBACK TransferDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        KeepDialogState(dialog, reinterpret_cast<TransferState*>(lParam));
        OnInitDialog(dialog, DialogState<TransferState>(dialog));
        return TRUE;
    }
    if (GetWindowLongPtrW(dialog, DWLP_USER) == 0) return FALSE;
    TransferState& s = DialogState<TransferState>(dialog);
    switch (message) {
        case kTransferStepMessage:
            for (quorbel::OperationReport report; s.request.feed.TakeEnded(report);) OnEnded(dialog, s, report);
            Pump(dialog, s);
            return TRUE;
        case WM_TIMER:
            if (wParam == kGapTimer) {
                KillTimer(dialog, kGapTimer);
                s.gap = false;
                Pump(dialog, s);
            } else if (!s.finished) {
                // Painted on a period of its own: a thousand small files do not each wait for it.
                ShowEntries(dialog, s);
                ShowProgress(dialog, s);
            }
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_TRANSFER_STOP:
                    s.batch.Stop();
                    if (s.awaiting == Awaiting::Copy) s.request.protocol.RequestStop();
                    Pump(dialog, s);
                    return TRUE;
                case IDC_TRANSFER_CLOSE:
                case IDCANCEL:
                    if (s.finished) EndDialog(dialog, 1);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            // Always allowed, as with the copy dialog: the file at hand is
            // stopped, nothing more starts, and what was done so far is told.
            if (!s.finished) {
                s.batch.Stop();
                if (s.awaiting == Awaiting::Copy) s.request.protocol.RequestStop();
                s.batch.FileEnded(quorbel::Outcome::Stopped, 0);
                while (s.batch.Next().action != BatchAction::Done) s.batch.NotSent(quorbel::EntryNote::Stopped);
                ShowBox(dialog, texts::kBatchClosedEarly, MB_OK | MB_ICONWARNING,
                        {View(quorbel::BatchSummaryText(s.batch))});
            }
            EndDialog(dialog, 1);
            return TRUE;
        case WM_DESTROY:
            s.request.feed.Detach();
            KillTimer(dialog, kProgressTimer);
            KillTimer(dialog, kGapTimer);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void TransferFeed::Attach(HWND dialog) {
    std::lock_guard<std::mutex> guard(lock_);
    dialog_ = dialog;
    ended_.clear();
}

void TransferFeed::Detach() {
    std::lock_guard<std::mutex> guard(lock_);
    dialog_ = nullptr;
    ended_.clear();
}

void TransferFeed::ClearRows() {
    std::lock_guard<std::mutex> guard(lock_);
    rows_.clear();
}

void TransferFeed::AddRow(const quorbel::PaneRow& row) {
    std::lock_guard<std::mutex> guard(lock_);
    // A peer that floods is not followed further than a folder copy reads a folder.
    if (rows_.size() < quorbel::kMaxTreeFolderEntries) rows_.push_back(row);
}

void TransferFeed::Ended(const quorbel::OperationReport& report) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!dialog_) return;
    ended_.push_back(report);
    PostMessageW(dialog_, kTransferStepMessage, 0, 0);
}

std::vector<quorbel::PaneRow> TransferFeed::Rows() {
    std::lock_guard<std::mutex> guard(lock_);
    return rows_;
}

bool TransferFeed::TakeEnded(quorbel::OperationReport& report) {
    std::lock_guard<std::mutex> guard(lock_);
    if (ended_.empty()) return false;
    report = ended_.front();
    ended_.pop_front();
    return true;
}

void RunTransferDialog(HWND owner, TransferRequest& request) {
    TransferState state(request);
    DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_TRANSFER), owner, TransferDialogProc,
                    reinterpret_cast<LPARAM>(&state));
}
