// The ID/PW dialog: first registration, login, registration on request.
#include "core/base/limits.h"
#include "win/base/dialog_state.h"
#include "win/dialogs/dialogs.h"
#include "win/res/resource.h"
#include "win/base/wintext.h"

namespace {

// What the dialog reads from each edit.
constexpr int kCredentialEditChars = 125;

struct IdPwState {
    IdPwMode mode;
    IdPwPair stored, login;
};

void ShowStored(HWND dialog, const IdPwState& s) {
    SetDlgItemTextW(dialog, IDC_IDPW_ID, ToWide(s.stored.id).c_str());
    SetDlgItemTextW(dialog, IDC_IDPW_PW, ToWide(s.stored.pw).c_str());
}

void Initialise(HWND dialog, const IdPwState& s) {
    if (s.mode == IdPwMode::Login) {
        SetWindowTextW(dialog, L"Login操作画面");
        SetDlgItemTextW(dialog, IDC_IDPW_PROMPT, L"IDとPWでログインして下さい。");
        return;
    }
    SetWindowTextW(dialog, s.mode == IdPwMode::FirstRegistration ? L"初期設定のお願い" : L"ID&PWの登録画面");
    SetDlgItemTextW(dialog, IDC_IDPW_PROMPT, L"IDとPWの登録をお願います。");
    ShowStored(dialog, s);
}

void TakeEdits(HWND dialog, const IdPwState& s) {
    const IdPwPair& target = s.mode == IdPwMode::Login ? s.login : s.stored;
    const int chars = kCredentialEditChars;
    target.id = AsU16View(ItemText(dialog, IDC_IDPW_ID, chars));
    target.pw = AsU16View(ItemText(dialog, IDC_IDPW_PW, chars));
}

INT_PTR CALLBACK IdPwDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            KeepDialogState(dialog, reinterpret_cast<IdPwState*>(lParam));
            Initialise(dialog, DialogState<IdPwState>(dialog));
            return TRUE;
        case WM_COMMAND:
            // Only OK leaves; there is no cancel (Escape does nothing).
            if (LOWORD(wParam) != IDC_IDPW_OK) return FALSE;
            TakeEdits(dialog, DialogState<IdPwState>(dialog));
            EndDialog(dialog, static_cast<INT_PTR>(DialogAnswer::Ok));
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, static_cast<INT_PTR>(DialogAnswer::Closed));
            return TRUE;
        case WM_LBUTTONDOWN:
            // A click in the top right corner shows the stored pair.
            if (LOWORD(lParam) > 310 && HIWORD(lParam) < 10) ShowStored(dialog, DialogState<IdPwState>(dialog));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

DialogAnswer RunIdPwDialog(HWND owner, IdPwMode mode, IdPwPair stored, IdPwPair login) {
    IdPwState state{mode, stored, login};
    return static_cast<DialogAnswer>(DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_IDPW), owner,
                                                     IdPwDialogProc, reinterpret_cast<LPARAM>(&state)));
}
