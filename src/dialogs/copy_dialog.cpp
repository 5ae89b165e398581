// The copy dialog: shows the file about to be copied and its destination
// folder, starts the copy (by "開始", or by itself for the later rows of a
// batch), shows the block counter and closes once the transfer is over.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/protocol.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "res/resource.h"

namespace {

constexpr UINT_PTR kAutoStartTimer = 1;  // later rows of a batch start by themselves
constexpr UINT_PTR kPollTimer = 2;       // closes the dialog once the state is Waiting
constexpr UINT kTimerPeriodMs = 1000;

// The source text is read back with room to spare, so that a path longer than
// a path buffer is noticed instead of being cut into another file's name.
constexpr int kSourceReadChars = 1024;

// Set once the request of this dialog has gone out; a start is not repeated.
bool g_started;

bool IsWaiting() { return TheProtocol().state.operationState.load() == quorbel::Waiting; }

// Folder, then "\" unless the folder already ends with one, then the name.
std::wstring JoinPath(const wchar_t* folder, const std::wstring& name) {
    std::wstring path(folder);
    if (path.empty() || path.back() != L'\\') path += L'\\';
    return path + name;
}

void RefuseDuringTransfer(HWND dialog) {
    ShowMessageBox(dialog, L"転送中は操作不可！", L"画面閉じる", MB_OK);
}

void ShowStep(HWND dialog) {
    wchar_t text[32];
    swprintf(text, ARRAYSIZE(text), L"Step:%06d", static_cast<int>(TheProtocol().state.blockCounter.load()));
    SetDlgItemTextW(dialog, IDC_STATIC_501, text);
}

void StartCopy(HWND dialog) {
    KillTimer(dialog, kAutoStartTimer);
    EnableWindow(GetDlgItem(dialog, IDC_BUTTON_201), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_BUTTON_202), FALSE);

    const std::wstring source = WindowText(GetDlgItem(dialog, IDC_EDIT_231), kSourceReadChars);
    const size_t slash = source.rfind(L'\\');
    const std::wstring fileName = slash == std::wstring::npos ? source : source.substr(slash + 1);
    const bool toPeer = g_shell.copyDirection == 0;
    const std::wstring destination = JoinPath(toPeer ? g_shell.remotePath : g_shell.localPath, fileName);

    // The names, the block counter and the Call state are all set before the
    // request leaves: the peer's answer is handled on the receive thread.
    int result = quorbel::kRequestTooLong;
    if (source.size() <= kPathChars - 1 && destination.size() <= kPathChars - 1) {
        quorbel::Protocol& protocol = TheProtocol();
        result = toPeer ? protocol.StartCopyTo(AsU16View(source.c_str()), AsU16View(destination.c_str()))
                        : protocol.StartCopyFrom(AsU16View(source.c_str()), AsU16View(destination.c_str()));
    }
    if (result == quorbel::kRequestTooLong) {
        // Nothing was sent and the state is still Waiting: this row is
        // skipped, the rest of the batch goes on.
        ShowMessageBox(dialog, L"パスが長すぎるため複写できません", L"複写操作", MB_OK | MB_ICONWARNING);
        EndDialog(dialog, 1);
        return;
    }
    if (result != 0) {
        // The request did not leave (the send has shown its box): no answer
        // can come, so this side is not left busy with a dialog that only the
        // close box could end, and the rest of the batch, which would fail
        // the same way, gets no dialog.
        TheProtocol().state.operationState.store(quorbel::Waiting);
        RefreshStatusBar();
        g_shell.copyCancelled = 1;
        EndDialog(dialog, 1);
        return;
    }
    g_started = true;
    SetTimer(dialog, kPollTimer, kTimerPeriodMs, nullptr);
}

// "開始" or the automatic start: refused while another operation runs.
void OnStart(HWND dialog, bool automatic) {
    if (g_started) return;
    if (!IsWaiting()) {
        // A batch row waits its turn; the user gets the same answer as "閉じる".
        if (!automatic) RefuseDuringTransfer(dialog);
        return;
    }
    StartCopy(dialog);
}

void OnInitDialog(HWND dialog, LPARAM batchPosition) {
    g_started = false;
    EnableWindow(GetDlgItem(dialog, IDC_EDIT_231), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_EDIT_232), FALSE);
    const bool toPeer = g_shell.copyDirection == 0;
    const std::wstring source = JoinPath(toPeer ? g_shell.localPath : g_shell.remotePath, g_shell.copyItemName);
    SetDlgItemTextW(dialog, IDC_EDIT_231, source.c_str());
    SetDlgItemTextW(dialog, IDC_EDIT_232, toPeer ? g_shell.remotePath : g_shell.localPath);
    TheProtocol().state.stopFlag.store(0);
    EnableWindow(GetDlgItem(dialog, IDC_BUTTON_201), TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_BUTTON_202), TRUE);
    if (batchPosition > 0) SetTimer(dialog, kAutoStartTimer, kTimerPeriodMs, nullptr);
}

void OnDestroy(HWND dialog) {
    KillTimer(dialog, kAutoStartTimer);
    KillTimer(dialog, kPollTimer);
    // Once nothing runs, a stop that no transfer took up (or whose answer
    // never came) must not cut off a later one, such as the peer fetching a
    // file from this side.
    if (IsWaiting()) TheProtocol().state.stopFlag.store(0);
}

INT_PTR CALLBACK CopyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog, lParam);
            return TRUE;
        case WM_TIMER:
            if (wParam == kAutoStartTimer) {
                OnStart(dialog, true);
            } else if (wParam == kPollTimer) {
                if (IsWaiting()) {
                    EndDialog(dialog, 1);
                    return TRUE;
                }
                ShowStep(dialog);
            }
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BUTTON_202:
                    OnStart(dialog, false);
                    return TRUE;
                case IDC_BUTTON_203:
                    TheProtocol().state.stopFlag.store(1);
                    return TRUE;
                case IDCANCEL:
                    // Esc answers as the close button does, while it is enabled.
                    if (!IsWindowEnabled(GetDlgItem(dialog, IDC_BUTTON_201))) return TRUE;
                    [[fallthrough]];
                case IDC_BUTTON_201:
                    if (!IsWaiting()) {
                        RefuseDuringTransfer(dialog);
                        return TRUE;
                    }
                    g_shell.copyCancelled = 1;
                    EndDialog(dialog, 1);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            // Always allowed: a running transfer goes on without a dialog.
            g_shell.copyCancelled = 1;
            EndDialog(dialog, 1);
            return TRUE;
        case WM_DESTROY:
            OnDestroy(dialog);
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(dialog, &paint);
            EndPaint(dialog, &paint);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunCopyDialog(HWND owner, int batchPosition) {
    DialogBoxParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_COPY), owner, CopyDialogProc, batchPosition);
    return 1;
}
