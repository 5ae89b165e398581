// The ID/PW dialog: first registration, login, registration on request.
#include <windows.h>

#include "app/shell.h"
#include "app/wintext.h"
#include "dialogs/dialogs.h"
#include "res/resource.h"

namespace {

int g_idPwMode;

// Each field keeps at most 125 characters.
constexpr int kIdPwReadChars = 125;

void ReadField(HWND dialog, int id, wchar_t (&credential)[kCredentialChars]) {
    wchar_t text[kIdPwReadChars + 1] = {};
    GetDlgItemTextW(dialog, id, text, ARRAYSIZE(text));
    CopyText(credential, text);
}

void ShowStored(HWND dialog) {
    SetDlgItemTextW(dialog, IDC_EDIT_240, g_shell.storedId);
    SetDlgItemTextW(dialog, IDC_EDIT_241, g_shell.storedPw);
}

INT_PTR CALLBACK IdPwDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            g_idPwMode = static_cast<int>(lParam);
            if (g_idPwMode == kIdPwLogin) {
                SetWindowTextW(dialog, L"Login操作画面");
                SetDlgItemTextW(dialog, IDC_STATIC_501, L"IDとPWでログインして下さい。");
                SetDlgItemTextW(dialog, IDC_EDIT_240, L"");
                SetDlgItemTextW(dialog, IDC_EDIT_241, L"");
            } else {
                SetWindowTextW(dialog, g_idPwMode == kIdPwFirstRegistration ? L"初期設定のお願い" : L"ID&PWの登録画面");
                SetDlgItemTextW(dialog, IDC_STATIC_501, L"IDとPWの登録をお願います。");
                ShowStored(dialog);
            }
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_BUTTON_201) {
                if (g_idPwMode == kIdPwLogin) {
                    ReadField(dialog, IDC_EDIT_240, g_shell.loginId);
                    ReadField(dialog, IDC_EDIT_241, g_shell.loginPw);
                } else {
                    ReadField(dialog, IDC_EDIT_240, g_shell.storedId);
                    ReadField(dialog, IDC_EDIT_241, g_shell.storedPw);
                }
                EndDialog(dialog, 0);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 1);
            return TRUE;
        case WM_LBUTTONDOWN: {
            // A click in the top right corner shows the stored pair.
            unsigned x = LOWORD(lParam);
            unsigned y = HIWORD(lParam);
            if (x > 310 && y < 10) ShowStored(dialog);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunIdPwDialog(HWND owner, int mode) {
    return DialogBoxParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_IDPW), owner, IdPwDialogProc, mode);
}
