// The about box: a modeless window with the picture, the version and the
// build date. Each box holds its own picture, so several may be open.
#include <cstdio>

#include "core/base/version.h"
#include "win/dialogs/dialogs.h"
#include "win/res/resource.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

#ifndef QUORBEL_BUILD_DATE
#define QUORBEL_BUILD_DATE __DATE__  // "Mmm dd yyyy", the day the box was compiled
#endif

namespace {

namespace texts = quorbel::texts;

constexpr int kPictureX = 40;
constexpr int kPictureWidth = 128;
constexpr int kPictureHeight = 64;

HBITMAP Picture(HWND box) { return reinterpret_cast<HBITMAP>(GetWindowLongPtrW(box, DWLP_USER)); }

void OnInit(HWND box) {
    HANDLE picture = LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(IDB_ABOUT), IMAGE_BITMAP, 0, 0,
                                LR_CREATEDIBSECTION);
    SetWindowLongPtrW(box, DWLP_USER, reinterpret_cast<LONG_PTR>(picture));
    if (!picture) ShowBox(box, texts::kPictureNotLoaded, MB_OK);
    char version[32] = {};
    snprintf(version, sizeof version, "Version %s", QUORBEL_VERSION_TEXT);
    SetDlgItemTextW(box, IDC_ABOUT_VERSION, ToWide(AnsiCodecForThread().FromAnsi(version)).c_str());
    wchar_t build[64] = {};
    _snwprintf(build, ARRAYSIZE(build) - 1, L"Build: %hs", QUORBEL_BUILD_DATE);
    SetDlgItemTextW(box, IDC_ABOUT_BUILD, build);
}

void OnPaint(HWND box) {
    PAINTSTRUCT ps;
    HDC target = BeginPaint(box, &ps);
    HDC memory = CreateCompatibleDC(nullptr);
    if (!memory) {
        EndPaint(box, &ps);
        ShowBox(box, texts::kNoMemoryDc, MB_OK);
        return;
    }
    if (HBITMAP picture = Picture(box)) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(target, kPictureX, 0, kPictureWidth, kPictureHeight, memory, 0, 0, SRCCOPY);
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
            if (LOWORD(wParam) != IDC_ABOUT_OK && LOWORD(wParam) != IDCANCEL) return FALSE;
            DestroyWindow(box);
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(box);
            return TRUE;
        case WM_DESTROY:
            if (HBITMAP picture = Picture(box)) DeleteObject(picture);
            SetWindowLongPtrW(box, DWLP_USER, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

HWND ShowAboutBox(HWND owner) {
    HWND box = CreateDialogParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutBoxProc, 0);
    if (box) ShowWindow(box, SW_SHOWNORMAL);
    return box;
}
