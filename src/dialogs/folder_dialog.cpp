// The folder-creation dialog: asks for the new folder's name, checks it and
// hands it back in the folder-name buffer (empty when the user closed it).
#include <windows.h>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/command_rules.h"
#include "dialogs/dialogs.h"
#include "res/resource.h"

namespace {

// The name is read with at most this many characters.
constexpr int kFolderNameReadChars = 255;

void Create(HWND dialog) {
    wchar_t name[kFolderNameReadChars + 1] = {};
    GetDlgItemTextW(dialog, IDC_EDIT_231, name, ARRAYSIZE(name));
    const size_t localLength = quorbel::BoundedLength(g_shell.localPath, kPathChars);
    quorbel::FolderNameCheck check = quorbel::CheckFolderName(AsU16View(name), localLength);
    if (check != quorbel::FolderNameCheck::kAccepted) {
        const std::wstring text = ToWide(quorbel::FolderNameMessage(check));
        ShowMessageBox(dialog, text.c_str(), AsWide(quorbel::kFolderNameCaption), MB_OK);
        return;
    }
    CopyText(g_shell.folderName, name);
    EndDialog(dialog, 1);
}

void Close(HWND dialog) {
    CopyText(g_shell.folderName, L"");
    EndDialog(dialog, 1);
}

INT_PTR CALLBACK FolderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextW(dialog, IDC_EDIT_231, g_shell.folderName);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BUTTON_202:
                    Create(dialog);
                    return TRUE;
                case IDC_BUTTON_203:
                    SetDlgItemTextW(dialog, IDC_EDIT_231, g_shell.pasteName);
                    return TRUE;
                case IDC_BUTTON_201:
                case IDCANCEL:  // Escape closes like the close button
                    Close(dialog);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            Close(dialog);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunFolderDialog(HWND owner) {
    return DialogBoxParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_FOLDER), owner, FolderDialogProc, 0);
}
