// The folder-creation dialog: asks for the new folder's name, checks it and
// hands it back (empty when the user closed the dialog).
#include "core/panes/command_rules.h"
#include "win/base/dialog_state.h"
#include "win/dialogs/dialogs.h"
#include "win/res/resource.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

namespace {

// The name is read with at most this many characters.
constexpr int kFolderNameReadChars = 255;

void Create(HWND dialog, FolderRequest& request) {
    const std::wstring name = ItemText(dialog, IDC_FOLDER_NAME, kFolderNameReadChars);
    const quorbel::FolderNameCheck check = quorbel::CheckFolderName(AsU16View(name), request.localFolderLength);
    if (check != quorbel::FolderNameCheck::kAccepted) {
        ShowBox(dialog, quorbel::FolderNameMessage(check), MB_OK);
        return;
    }
    request.name = name;
    EndDialog(dialog, 1);
}

void Close(HWND dialog, FolderRequest& request) {
    request.name.clear();
    EndDialog(dialog, 1);
}

INT_PTR CALLBACK FolderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            KeepDialogState(dialog, reinterpret_cast<FolderRequest*>(lParam));
            SetDlgItemTextW(dialog, IDC_FOLDER_NAME, DialogState<FolderRequest>(dialog).name.c_str());
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_FOLDER_CREATE:
                    Create(dialog, DialogState<FolderRequest>(dialog));
                    return TRUE;
                case IDC_FOLDER_PASTE:
                    SetDlgItemTextW(dialog, IDC_FOLDER_NAME, DialogState<FolderRequest>(dialog).pasteName.c_str());
                    return TRUE;
                case IDC_FOLDER_CLOSE:
                case IDCANCEL:  // Escape closes like the close button
                    Close(dialog, DialogState<FolderRequest>(dialog));
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            Close(dialog, DialogState<FolderRequest>(dialog));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void RunFolderDialog(HWND owner, FolderRequest& request) {
    DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_FOLDER), owner, FolderDialogProc,
                    reinterpret_cast<LPARAM>(&request));
}
