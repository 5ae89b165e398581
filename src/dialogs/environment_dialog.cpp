// The environment settings dialog: whether the traffic monitors record.
#include "winbase/dialog_state.h"
#include "dialogs/dialogs.h"
#include "res/resource.h"
#include "winbase/wintext.h"

namespace {

INT_PTR CALLBACK EnvironmentDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            KeepDialogState(dialog, reinterpret_cast<int32_t*>(lParam));
            CheckDlgButton(dialog, IDC_ENV_RECORD, DialogState<int32_t>(dialog) != 0 ? BST_CHECKED : BST_UNCHECKED);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_ENV_OK:
                    DialogState<int32_t>(dialog) = IsDlgButtonChecked(dialog, IDC_ENV_RECORD) == BST_CHECKED ? 1 : 0;
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

void RunEnvironmentDialog(HWND owner, int32_t& monitorRecording) {
    DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_ENVIRONMENT), owner, EnvironmentDialogProc,
                    reinterpret_cast<LPARAM>(&monitorRecording));
}
