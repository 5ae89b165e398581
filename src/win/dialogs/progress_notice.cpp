// The small "Connection" note shown while the Client looks up the Server's
// PC name or connects (both block the window thread).
#include "win/dialogs/dialogs.h"
#include "win/res/resource.h"
#include "win/base/wintext.h"

namespace {

// The one note of the Client's set-up; a new one replaces it.
HWND g_notice;

INT_PTR CALLBACK ProgressNoticeProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextW(dialog, IDC_PROGRESS_TEXT,
                            ClientSetup(lParam) == ClientSetup::LookingUp ? L"只今IPアドレス取得中\r\nしばらくお待ちください"
                                        : L"只今接続中\r\nしばらくお待ちください");
            return TRUE;
        case WM_DESTROY:
            if (g_notice == dialog) g_notice = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void ShowProgressNotice(HWND owner, ClientSetup step) {
    // Destroyed rather than hidden: a new note is made for each step.
    if (g_notice && IsWindow(g_notice)) DestroyWindow(g_notice);
    g_notice = nullptr;
    if (step == ClientSetup::Done) return;
    g_notice = CreateDialogParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_PROGRESS), owner, ProgressNoticeProc,
                                  LPARAM(step));
    if (!g_notice) return;
    ShowWindow(g_notice, SW_SHOWNORMAL);
    // Painted now: the call that follows blocks the window thread.
    UpdateWindow(g_notice);
}
