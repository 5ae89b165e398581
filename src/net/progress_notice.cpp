// The small "Connection" note shown while the Client looks up the Server's
// PC name or connects (both block the window thread).
#include <windows.h>

#include "app/shell.h"
#include "dialogs/dialogs.h"
#include "res/resource.h"

namespace {

HWND g_notice;
int g_noticeMode;

INT_PTR CALLBACK ProgressNoticeProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            g_notice = dialog;
            g_noticeMode = static_cast<int>(lParam);
            SetDlgItemTextW(dialog, IDC_STATIC_501,
                            g_noticeMode == 1 ? L"只今IPアドレス取得中\r\nしばらくお待ちください"
                                              : L"只今接続中\r\nしばらくお待ちください");
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(dialog, &ps);
            EndPaint(dialog, &ps);
            return TRUE;
        }
        case WM_DESTROY:
            if (g_notice == dialog) g_notice = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

HWND ShowProgressNotice(HWND owner, int mode) {
    CloseProgressNotice();
    HINSTANCE instance = g_shell.instance ? g_shell.instance : GetModuleHandleW(nullptr);
    HWND notice = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), owner, ProgressNoticeProc,
                                     static_cast<LPARAM>(mode));
    if (!notice) return nullptr;
    ShowWindow(notice, SW_SHOWNORMAL);
    // Painted now: the call that follows blocks the window thread.
    UpdateWindow(notice);
    return notice;
}

void CloseProgressNotice() {
    // Destroyed rather than hidden: a new note is made for each step.
    if (g_notice && IsWindow(g_notice)) DestroyWindow(g_notice);
    g_notice = nullptr;
}
