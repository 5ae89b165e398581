// The copy dialog of one file: shows the file about to be copied and its
// destination folder, starts the copy by "開始", shows the step and the
// bytes moved, and closes once the transfer is over.
#include "win/dialogs/dialogs.h"

#include <commctrl.h>

#include "core/base/limits.h"
#include "core/base/path_rules.h"
#include "core/copy/copy_batch.h"
#include "win/base/dialog_state.h"
#include "win/dialogs/dialogs.h"
#include "win/res/resource.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;

constexpr UINT_PTR kPollTimer = 2;       // closes the dialog once the state is Waiting
constexpr UINT kTimerPeriodMs = 1000;
constexpr UINT_PTR kProgressTimer = 3;   // the bar and the bytes moved
constexpr UINT kProgressPeriodMs = 200;
constexpr int kBarRange = 1000;

struct CopyState {
    CopyRequest& request;
    bool started = false;  // the request of this dialog went out; a start is not repeated
    DWORD startTick = 0;
};

quorbel::u16view View(const quorbel::u16& text) { return text; }

void ShowProgress(HWND dialog, const CopyState& s) {
    // Before the start the protocol still counts the last transfer's bytes.
    const uint64_t moved = s.started ? s.request.protocol.TransferredBytes() : 0, total = std::max(s.request.bytes, moved);
    const uint64_t at = total == 0 ? 0 : moved * kBarRange / total;
    SendMessageW(GetDlgItem(dialog, IDC_COPY_BAR), PBM_SETPOS, WPARAM(at), 0);
    const DWORD elapsed = std::max<DWORD>(1, GetTickCount() - s.startTick);
    const quorbel::u16 text =
        quorbel::FormatText(quorbel::texts::kCopyProgress, {View(quorbel::AmountText(moved)), View(quorbel::AmountText(total)),
                                                            View(quorbel::AmountText(moved * 1000 / elapsed))});
    SetDlgItemTextW(dialog, IDC_COPY_AMOUNT, ToWide(text).c_str());
}

void ShowStep(HWND dialog, const quorbel::Protocol& protocol) {
    wchar_t text[32];
    swprintf(text, ARRAYSIZE(text), L"Step:%06d", static_cast<int>(protocol.Step()));
    SetDlgItemTextW(dialog, IDC_COPY_STEP, text);
}

void StartCopy(HWND dialog, CopyState& s) {
    CopyRequest& r = s.request;
    EnableWindow(GetDlgItem(dialog, IDC_COPY_CLOSE), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_COPY_START), FALSE);

    // The source as shown, read back with room to spare so that a longer
    // text is noticed instead of being cut into another file's name.
    const std::wstring source = ItemText(dialog, IDC_COPY_SOURCE, 1024);
    const auto destination =
        quorbel::JoinEntryPath(AsU16View(r.destinationFolder), quorbel::FileNameOf(AsU16View(source)));
    // The names and the Call state are set before the request leaves: the
    // peer's answer is handled on the receive thread.
    int result = quorbel::kRequestTooLong;
    if (destination && source.size() <= quorbel::kMaxPath)
        result = r.toPeer ? r.protocol.StartCopyTo(AsU16View(source), *destination)
                          : r.protocol.StartCopyFrom(AsU16View(source), *destination);
    if (result == quorbel::kRequestTooLong) {
        // Nothing was sent.
        ShowBox(dialog, texts::kCopyPathTooLong, MB_OK | MB_ICONWARNING);
        EndDialog(dialog, 1);
        return;
    }
    if (result != 0) {
        // The request did not leave (its send showed a box) and nothing will
        // answer it: no listing follows on the broken connection.
        r.requestFailed = true;
        EndDialog(dialog, 1);
        return;
    }
    s.started = true;
    s.startTick = GetTickCount();
    SetTimer(dialog, kPollTimer, kTimerPeriodMs, nullptr);
    SetTimer(dialog, kProgressTimer, kProgressPeriodMs, nullptr);
}

// "開始": refused while another operation runs.
void OnStart(HWND dialog, CopyState& s) {
    if (s.started) return;
    if (!s.request.protocol.IsWaiting()) {
        // The user gets the answer "閉じる" gets.
        ShowBox(dialog, texts::kCloseDuringTransfer, MB_OK);
        return;
    }
    StartCopy(dialog, s);
}

void OnInitDialog(HWND dialog, CopyState& s) {
    const CopyRequest& r = s.request;
    EnableWindow(GetDlgItem(dialog, IDC_COPY_SOURCE), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_COPY_DESTINATION), FALSE);
    const auto source = quorbel::JoinEntryPath(AsU16View(r.sourceFolder), AsU16View(r.name));
    if (!source) {
        ShowBox(dialog, texts::kCopyPathTooLong, MB_OK | MB_ICONWARNING);
        EndDialog(dialog, 1);
        return;
    }
    SetDlgItemTextW(dialog, IDC_COPY_SOURCE, ToWide(*source).c_str());
    SetDlgItemTextW(dialog, IDC_COPY_DESTINATION, r.destinationFolder.c_str());
    SendMessageW(GetDlgItem(dialog, IDC_COPY_BAR), PBM_SETRANGE32, 0, kBarRange);
    if (r.toPeer) {
        // The size of the file as it is now, not as the pane listed it.
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(ToWide(*source).c_str(), GetFileExInfoStandard, &data))
            s.request.bytes = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    ShowProgress(dialog, s);
    r.protocol.ClearStop();
}

void Close(HWND dialog, CopyState& s) {
    s.request.cancelled = true;
    EndDialog(dialog, 1);
}

INT_PTR CALLBACK CopyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        KeepDialogState(dialog, reinterpret_cast<CopyState*>(lParam));
        OnInitDialog(dialog, DialogState<CopyState>(dialog));
        return TRUE;
    }
    if (GetWindowLongPtrW(dialog, DWLP_USER) == 0) return FALSE;
    CopyState& s = DialogState<CopyState>(dialog);
    quorbel::Protocol& protocol = s.request.protocol;
    switch (message) {
        case WM_TIMER:
            if (wParam == kProgressTimer) {
                ShowProgress(dialog, s);
            } else if (wParam == kPollTimer) {
                if (protocol.IsWaiting()) {
                    // Refused, failed, lost, or a file the peer's empty end record left as it was.
                    const quorbel::Outcome outcome = protocol.LastOutcome();
                    s.request.notDone = outcome != quorbel::Outcome::Done && outcome != quorbel::Outcome::Stopped;
                    EndDialog(dialog, 1);
                } else {
                    ShowStep(dialog, protocol);
                    ShowProgress(dialog, s);
                }
            }
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_COPY_START:
                    OnStart(dialog, s);
                    return TRUE;
                case IDC_COPY_STOP:
                    protocol.RequestStop();
                    return TRUE;
                case IDC_COPY_CLOSE:
                    if (!protocol.IsWaiting()) {
                        ShowBox(dialog, texts::kCloseDuringTransfer, MB_OK);
                        return TRUE;
                    }
                    Close(dialog, s);
                    return TRUE;
                case IDCANCEL:
                    // The dialog has no cancel button: Escape does nothing.
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            // Always allowed: a running transfer goes on without a dialog.
            Close(dialog, s);
            return TRUE;
        case WM_DESTROY:
            KillTimer(dialog, kPollTimer);
            KillTimer(dialog, kProgressTimer);
            // Once nothing runs, a stop that no transfer took up must not cut
            // off a later one, such as the peer fetching a file from this side.
            if (protocol.IsWaiting()) protocol.ClearStop();
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void RunCopyDialog(HWND owner, CopyRequest& request) {
    CopyState state{request};
    DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_COPY), owner, CopyDialogProc,
                    reinterpret_cast<LPARAM>(&state));
}
