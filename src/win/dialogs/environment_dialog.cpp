// The environment settings dialog: whether the traffic monitors record,
// whether the Server serves only connections that logged in, and whether
// either role connects only with secure sessions.
#include "win/base/dialog_state.h"
#include "win/dialogs/dialogs.h"
#include "win/res/resource.h"
#include "win/base/wintext.h"

namespace {

constexpr int kChecks[] = {IDC_ENV_RECORD, IDC_ENV_LOGIN_REQUIRED, IDC_ENV_REQUIRE_SECURE};

int32_t& ValueOf(EnvironmentValues& v, int check) {
    switch (check) {
        case IDC_ENV_RECORD: return v.monitorRecording;
        case IDC_ENV_LOGIN_REQUIRED: return v.loginRequired;
        default: return v.requireSecure;
    }
}

INT_PTR CALLBACK EnvironmentDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            KeepDialogState(dialog, reinterpret_cast<EnvironmentValues*>(lParam));
            EnvironmentValues& v = DialogState<EnvironmentValues>(dialog);
            for (int check : kChecks)
                CheckDlgButton(dialog, check, ValueOf(v, check) != 0 ? BST_CHECKED : BST_UNCHECKED);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_ENV_OK:
                    for (int check : kChecks) {
                        const bool checked = IsDlgButtonChecked(dialog, check) == BST_CHECKED;
                        ValueOf(DialogState<EnvironmentValues>(dialog), check) = checked ? 1 : 0;
                    }
                    EndDialog(dialog, 1);
                    return TRUE;
                case IDC_ENV_CANCEL:
                case IDCANCEL:  // Escape cancels like the cancel button
                    EndDialog(dialog, 1);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void RunEnvironmentDialog(HWND owner, EnvironmentValues& values) {
    DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_ENVIRONMENT), owner, EnvironmentDialogProc,
                    reinterpret_cast<LPARAM>(&values));
}
