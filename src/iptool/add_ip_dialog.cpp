// "Add IP Address": writes one netsh batch file that sets the selected
// adapter to DHCP or to a fixed address and mask.
#include <windows.h>

#include <array>
#include <string>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/ipbatch.h"
#include "iptool/iptool.h"
#include "res/resource.h"

namespace {

constexpr int kAddressFields[8] = {IDC_EDIT_231, IDC_EDIT_232, IDC_EDIT_233, IDC_EDIT_234,
                                   IDC_EDIT_235, IDC_EDIT_236, IDC_EDIT_237, IDC_EDIT_238};
// An octet field is read as its first three characters.
constexpr int kFieldBuffer = static_cast<int>(quorbel::kOctetFieldChars) + 1;

void ShowFileError(HWND dialog, const wchar_t* text, UINT icon) {
    ShowMessageBox(dialog, text, L"file error", MB_OK | icon);
}

// The selected adapter row, whole (a row too long for a batch file is
// refused by the batch rules, never cut here); empty with no selection.
std::wstring SelectedAdapter(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_LISTBOX_451);
    LRESULT row = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (row == LB_ERR) return {};
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length == LB_ERR || length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT n = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

void EnableAddressFields(HWND dialog, bool on) {
    for (int id : kAddressFields) EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE);
}

INT_PTR CALLBACK AddIpDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            ListNetworkAdapters(dialog);
            static const wchar_t* const kDefaults[8] = {L"192", L"168", L"", L"", L"255", L"255", L"255", L"0"};
            for (int i = 0; i < 8; ++i) SetDlgItemTextW(dialog, kAddressFields[i], kDefaults[i]);
            CheckDlgButton(dialog, IDC_CHECK_521, BST_UNCHECKED);
            EnableAddressFields(dialog, true);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BUTTON_201:
                    ListNetworkAdapters(dialog);
                    return FALSE;
                case IDC_CHECK_521:
                    EnableAddressFields(dialog, IsDlgButtonChecked(dialog, IDC_CHECK_521) != BST_CHECKED);
                    return FALSE;
                case IDC_BUTTON_202:
                    WriteIpBatchFile(dialog);
                    EndDialog(dialog, 1);
                    return FALSE;
                case IDC_BUTTON_203:
                    EndDialog(dialog, 1);
                    return FALSE;
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

void WriteIpBatchFile(HWND dialog) {
    const std::wstring adapter = SelectedAdapter(dialog);
    const bool dhcp = IsDlgButtonChecked(dialog, IDC_CHECK_521) == BST_CHECKED;
    wchar_t texts[8][kFieldBuffer] = {};
    std::array<quorbel::u16view, 8> fields;
    for (int i = 0; i < 8; ++i) {
        if (!dhcp) GetDlgItemTextW(dialog, kAddressFields[i], texts[i], kFieldBuffer);
        fields[static_cast<size_t>(i)] = AsU16View(texts[i]);
    }
    const quorbel::u16view startup = AsU16View(g_shell.startupFolder);
    quorbel::BatchFile batch =
        quorbel::MakeIpBatchFile(startup, AsU16View(adapter.c_str()), dhcp, fields, AnsiCodecForThread());
    if (batch.status != quorbel::BatchStatus::kOk) {
        quorbel::BatchMessage m = quorbel::BatchStatusMessage(batch.status);
        ShowMessageBox(dialog, ToWide(m.text).c_str(), ToWide(m.caption).c_str(),
                       MB_OK | (m.warningIcon ? MB_ICONWARNING : 0));
        return;
    }

    SetCurrentDirectoryW(g_shell.startupFolder);
    // The folder path is shorter than the file path, which fitted.
    const std::wstring folder = ToWide(*quorbel::BatchFolderPath(startup));
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(folder.c_str(), nullptr);

    const std::wstring path = ToWide(batch.path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ShowFileError(dialog, L"Unable to open the file.", MB_ICONWARNING);
        return;
    }
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(batch.bytes.size());
    const bool whole = WriteFile(file, batch.bytes.data(), size, &written, nullptr) && written == size;
    const bool closed = CloseHandle(file) != 0;
    if (!whole) {
        // A cut netsh line would set a wrong address: leave no file at all.
        DeleteFileW(path.c_str());
        ShowFileError(dialog, L"Unable to write the file.", MB_ICONWARNING);
        return;
    }
    if (!closed) ShowFileError(dialog, L"Unable to close the file.", 0);
}

INT_PTR RunAddIpDialog(HWND owner) {
    // Creation parameter 1: a new entry, the dialog's only mode.
    return DialogBoxParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_ADDIP), owner, AddIpDialogProc, 1);
}
