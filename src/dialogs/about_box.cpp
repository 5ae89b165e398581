// The about box: a modeless window with the picture, the version and the
// build date. Each box holds its own picture, so several may be open.
#include <windows.h>

#include <cstdio>

#include "app/msgbox.h"
#include "app/shell.h"
#include "dialogs/dialogs.h"
#include "res/resource.h"

#ifndef QUORBEL_BUILD_DATE
#define QUORBEL_BUILD_DATE __DATE__  // "Mmm dd yyyy", the day the box was compiled
#endif

namespace {

constexpr int kPictureX = 40;
constexpr int kPictureY = 0;
constexpr int kPictureWidth = 128;
constexpr int kPictureHeight = 64;

HBITMAP Picture(HWND box) { return reinterpret_cast<HBITMAP>(GetWindowLongPtrW(box, DWLP_USER)); }

void OnInit(HWND box) {
    HANDLE picture = LoadImageW(g_shell.instance, MAKEINTRESOURCEW(IDB_ABOUT), IMAGE_BITMAP, 0, 0,
                                LR_CREATEDIBSECTION);
    SetWindowLongPtrW(box, DWLP_USER, reinterpret_cast<LONG_PTR>(picture));
    if (!picture) ShowMessageBox(box, L"画像が読み込み出来ません。", L"ImageLoad", MB_OK);

    char version[32] = {};
    snprintf(version, sizeof version, "Version %s", QUORBEL_VERSION_TEXT);
    wchar_t versionText[32] = {};
    MultiByteToWideChar(CP_THREAD_ACP, 0, version, -1, versionText, ARRAYSIZE(versionText) - 1);
    SetDlgItemTextW(box, IDC_STATIC_501, versionText);

    wchar_t build[64] = {};
    _snwprintf(build, ARRAYSIZE(build) - 1, L"Build: %hs", QUORBEL_BUILD_DATE);
    SetDlgItemTextW(box, IDC_STATIC_502, build);
}

void OnPaint(HWND box) {
    PAINTSTRUCT ps;
    HDC target = BeginPaint(box, &ps);
    HDC memory = CreateCompatibleDC(nullptr);
    if (!memory) {
        EndPaint(box, &ps);
        ShowMessageBox(box, L"失敗しました。", L"CreateCompatibleDC", MB_OK);
        return;
    }
    HBITMAP picture = Picture(box);
    if (picture) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(target, kPictureX, kPictureY, kPictureWidth, kPictureHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
    }
    if (!DeleteDC(memory)) DeleteObject(memory);
    EndPaint(box, &ps);
}

INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            OnInit(box);
            return TRUE;
        case WM_PAINT:
            OnPaint(box);
            return TRUE;
        case WM_COMMAND:
            // A modeless box is destroyed, not merely ended (which would only hide it).
            if (LOWORD(wParam) == IDC_BUTTON_201 || LOWORD(wParam) == IDCANCEL) {
                DestroyWindow(box);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            DestroyWindow(box);
            return TRUE;
        case WM_DESTROY:
            if (HBITMAP picture = Picture(box)) {
                DeleteObject(picture);
                SetWindowLongPtrW(box, DWLP_USER, 0);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

HWND ShowAboutBox(HWND owner) {
    HWND box = CreateDialogParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutBoxProc, 0);
    if (box) ShowWindow(box, SW_SHOWNORMAL);
    return box;
}
