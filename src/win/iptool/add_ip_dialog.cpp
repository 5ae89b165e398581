// "Add IP Address": writes one netsh batch file that sets the selected
// adapter to DHCP or to a fixed address and mask.
#include <array>
#include <string>

#include "core/iptool/ipbatch.h"
#include "win/iptool/adapters.h"
#include "win/iptool/iptool.h"
#include "win/res/resource.h"
#include "win/base/dialog_state.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;

constexpr int kAddressFields[8] = {IDC_ADDIP_ADDRESS1, IDC_ADDIP_ADDRESS2, IDC_ADDIP_ADDRESS3, IDC_ADDIP_ADDRESS4,
                                   IDC_ADDIP_MASK1,    IDC_ADDIP_MASK2,    IDC_ADDIP_MASK3,    IDC_ADDIP_MASK4};

// The selected adapter row, whole (a row too long for a batch file is
// refused by the batch rules, never cut here); empty with no selection.
std::wstring SelectedAdapter(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_ADDIP_ADAPTERS);
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

// "SET": the batch file for the selected adapter and the fields.
void WriteIpBatchFile(HWND dialog, const std::wstring& startupFolder);

INT_PTR CALLBACK AddIpDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            KeepDialogState(dialog, reinterpret_cast<const std::wstring*>(lParam));
            ListNetworkAdapters(GetDlgItem(dialog, IDC_ADDIP_ADAPTERS));
            static const wchar_t* const kDefaults[8] = {L"192", L"168", L"", L"", L"255", L"255", L"255", L"0"};
            for (int i = 0; i < 8; ++i) SetDlgItemTextW(dialog, kAddressFields[i], kDefaults[i]);
            CheckDlgButton(dialog, IDC_ADDIP_AUTO, BST_UNCHECKED);
            EnableAddressFields(dialog, true);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_ADDIP_SEARCH:
                    ListNetworkAdapters(GetDlgItem(dialog, IDC_ADDIP_ADAPTERS));
                    return FALSE;
                case IDC_ADDIP_AUTO:
                    EnableAddressFields(dialog, IsDlgButtonChecked(dialog, IDC_ADDIP_AUTO) != BST_CHECKED);
                    return FALSE;
                case IDC_ADDIP_SET:
                    WriteIpBatchFile(dialog, DialogState<const std::wstring>(dialog));
                    EndDialog(dialog, 1);
                    return FALSE;
                case IDC_ADDIP_CLOSE:
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

void WriteIpBatchFile(HWND dialog, const std::wstring& startupFolder) {
    const std::wstring adapter = SelectedAdapter(dialog);
    const bool dhcp = IsDlgButtonChecked(dialog, IDC_ADDIP_AUTO) == BST_CHECKED;
    std::array<std::wstring, 8> edits;
    std::array<quorbel::u16view, 8> fields;
    for (size_t i = 0; i < 8; ++i) {
        // An octet field is read as its first three characters.
        if (!dhcp) edits[i] = ItemText(dialog, kAddressFields[i], static_cast<int>(quorbel::kOctetFieldChars));
        fields[i] = AsU16View(edits[i]);
    }
    const quorbel::u16view startup = AsU16View(startupFolder);
    const quorbel::BatchFile batch =
        quorbel::MakeIpBatchFile(startup, AsU16View(adapter), dhcp, fields, AnsiCodecForThread());
    if (batch.status != quorbel::BatchStatus::kOk) {
        const quorbel::BatchMessage m = quorbel::BatchStatusMessage(batch.status);
        ShowBox(dialog, m.box, MB_OK | (m.warningIcon ? MB_ICONWARNING : 0));
        return;
    }

    SetCurrentDirectoryW(startupFolder.c_str());
    // The folder path is shorter than the file path, which fitted.
    const std::wstring folder = ToWide(*quorbel::BatchFolderPath(startup));
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(folder.c_str(), nullptr);

    const std::wstring path = ToWide(batch.path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ShowBox(dialog, texts::kBatchOpenFailed, MB_OK | MB_ICONWARNING);
        return;
    }
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(batch.bytes.size());
    const bool whole = WriteFile(file, batch.bytes.data(), size, &written, nullptr) && written == size;
    const bool closed = CloseHandle(file) != 0;
    if (!whole) {
        // A cut netsh line would set a wrong address: leave no file at all.
        DeleteFileW(path.c_str());
        ShowBox(dialog, texts::kBatchWriteFailed, MB_OK | MB_ICONWARNING);
        return;
    }
    if (!closed) ShowBox(dialog, texts::kBatchCloseFailed, MB_OK);
}

}  // namespace

INT_PTR RunAddIpDialog(HWND owner, const std::wstring& startupFolder) {
    // The dialog's only mode is a new entry; it is given the start-up folder.
    return DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_ADDIP), owner, AddIpDialogProc,
                           reinterpret_cast<LPARAM>(&startupFolder));
}
