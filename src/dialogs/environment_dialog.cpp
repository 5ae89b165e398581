// The environment settings dialog: whether the traffic monitors record.
#include <windows.h>

#include "app/shell.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "res/resource.h"

namespace {

INT_PTR CALLBACK EnvironmentDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CheckDlgButton(dialog, IDC_CHECK_521, BST_UNCHECKED);
            if (MonitorRecording() != 0) CheckDlgButton(dialog, IDC_CHECK_521, BST_CHECKED);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BUTTON_201:
                    SetMonitorRecording(IsDlgButtonChecked(dialog, IDC_CHECK_521) == BST_CHECKED ? 1 : 0);
                    EndDialog(dialog, 1);
                    return TRUE;
                case IDC_BUTTON_202:
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

INT_PTR RunEnvironmentDialog(HWND owner) {
    return DialogBoxParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_ENVIRONMENT), owner, EnvironmentDialogProc, 0);
}
