// "IP Address Setting": the batch files of the ipaddress folder, run with
// administrator rights, optionally after the companion tool that keeps the
// administrator ID and password on the clipboard.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <optional>
#include <string>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/companion_rules.h"
#include "core/format_rules.h"
#include "core/ipbatch.h"
#include "iptool/iptool.h"
#include "res/resource.h"

CompanionSettings g_companion = {quorbel::kDefaultIdTime, quorbel::kDefaultPwTime, L"ID", L"PW"};

namespace {

// Buffers the edits are read into, terminator included.
constexpr int kTimeFieldBuffer = static_cast<int>(quorbel::kCompanionTimeFieldMaxChars) + 1;
constexpr int kTextFieldBuffer = static_cast<int>(quorbel::kCompanionTextFieldMaxChars) + 1;
// zelvane.ini gives back at most this many characters of the ID and PW.
constexpr int kTextReadBuffer = static_cast<int>(quorbel::kCompanionTextReadMaxChars) + 1;

const wchar_t* StartupFolder() { return g_shell.startupFolder; }

void ShowSelectItem(HWND dialog) { ShowMessageBox(dialog, L"Please select an item.", L"listbox", MB_OK); }

void ShowBatchMessage(HWND dialog, quorbel::BatchStatus status) {
    quorbel::BatchMessage m = quorbel::BatchStatusMessage(status);
    ShowMessageBox(dialog, ToWide(m.text).c_str(), ToWide(m.caption).c_str(),
                   MB_OK | (m.warningIcon ? MB_ICONWARNING : 0));
}

std::wstring CompanionIniPath() {
    auto path = quorbel::CompanionFilePath(AsU16View(StartupFolder()));
    return path ? ToWide(*path) : std::wstring();
}

// The selected row of list box 451; nullopt with no selection.
std::optional<std::wstring> SelectedRow(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_LISTBOX_451);
    LRESULT row = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (row == LB_ERR) return std::nullopt;
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length == LB_ERR) return std::nullopt;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT n = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

// Start-up folder + "\ipaddress\" + the row; nullopt (after a message) when
// that would pass the longest path.
std::optional<std::wstring> SelectedBatchPath(HWND dialog) {
    auto selected = SelectedRow(dialog);
    if (!selected) {
        ShowSelectItem(dialog);
        return std::nullopt;
    }
    auto path = quorbel::BatchFilePath(AsU16View(StartupFolder()), AsU16View(selected->c_str()));
    if (!path) {
        ShowBatchMessage(dialog, quorbel::BatchStatus::kPathTooLong);
        return std::nullopt;
    }
    return ToWide(*path);
}

bool IsBatchFileName(const wchar_t* name) {
    quorbel::u16view n = AsU16View(name);
    return n.size() > 4 && quorbel::CompareNoCase(n.substr(n.size() - 4), u".bat") == 0;
}

void SetNumber(HWND dialog, int id, int32_t value) {
    wchar_t text[16];
    swprintf(text, ARRAYSIZE(text), L"%d", static_cast<int>(value));
    SetDlgItemTextW(dialog, id, text);
}

int32_t TakeTime(HWND dialog, int id) {
    wchar_t text[kTimeFieldBuffer] = {};
    GetDlgItemTextW(dialog, id, text, kTimeFieldBuffer);
    return quorbel::ReadCompanionTime(AsU16View(text));
}

void TakeText(HWND dialog, int id, wchar_t (&target)[kCompanionTextChars]) {
    SecureZeroMemory(target, sizeof target);
    GetDlgItemTextW(dialog, id, target, kTextFieldBuffer);
}

void StartCompanion(HWND dialog) {
    // By its full name in the start-up folder, so no other zelvane.exe on
    // the search path is started by mistake.
    std::wstring program = std::wstring(StartupFolder()) + L"\\" + AsWide(quorbel::kCompanionProgram);
    ShellExecuteW(dialog, L"open", program.c_str(), nullptr, StartupFolder(), SW_SHOWNORMAL);
}

INT_PTR CALLBACK IpAddressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            // What zelvane.ini can give back whole.
            SendDlgItemMessageW(dialog, IDC_EDIT_233, EM_LIMITTEXT, kTextReadBuffer - 1, 0);
            SendDlgItemMessageW(dialog, IDC_EDIT_234, EM_LIMITTEXT, kTextReadBuffer - 1, 0);
            ReadCompanionSettings();
            ListIpBatchFiles(dialog);
            ShowCompanionSettings(dialog);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BUTTON_201:
                    TakeCompanionSettings(dialog);
                    RunIpBatchFile(dialog);
                    EndDialog(dialog, 1);
                    return FALSE;
                case IDC_BUTTON_202:
                    RunAddIpDialog(dialog);
                    ListIpBatchFiles(dialog);
                    return FALSE;
                case IDC_BUTTON_203:
                    DeleteIpBatchFile(dialog);
                    ListIpBatchFiles(dialog);
                    return FALSE;
                case IDC_BUTTON_204:
                    TakeCompanionSettings(dialog);
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

void ReadCompanionSettings() {
    SetCurrentDirectoryW(StartupFolder());
    const std::wstring file = CompanionIniPath();
    const wchar_t* path = file.empty() ? nullptr : file.c_str();
    const wchar_t* section = AsWide(quorbel::kCompanionSection);
    g_companion.idTime = quorbel::kDefaultIdTime;
    g_companion.pwTime = quorbel::kDefaultPwTime;
    CopyText(g_companion.adminId, AsWide(quorbel::kDefaultAdminId));
    CopyText(g_companion.adminPw, AsWide(quorbel::kDefaultAdminPw));
    if (!path) return;  // a start-up folder too long for the file: the defaults
    g_companion.idTime = static_cast<int32_t>(
        GetPrivateProfileIntW(section, AsWide(quorbel::kKeyIdTime), quorbel::kDefaultIdTime, path));
    g_companion.pwTime = static_cast<int32_t>(
        GetPrivateProfileIntW(section, AsWide(quorbel::kKeyPwTime), quorbel::kDefaultPwTime, path));
    SecureZeroMemory(g_companion.adminId, sizeof g_companion.adminId);
    GetPrivateProfileStringW(section, AsWide(quorbel::kKeyAdminId), AsWide(quorbel::kDefaultAdminId),
                             g_companion.adminId, kTextReadBuffer, path);
    SecureZeroMemory(g_companion.adminPw, sizeof g_companion.adminPw);
    GetPrivateProfileStringW(section, AsWide(quorbel::kKeyAdminPw), AsWide(quorbel::kDefaultAdminPw),
                             g_companion.adminPw, kTextReadBuffer, path);
}

void WriteCompanionSettings(HWND dialog) {
    SetCurrentDirectoryW(StartupFolder());
    const std::wstring file = CompanionIniPath();
    if (file.empty()) return;
    RECT r = {};
    GetWindowRect(dialog, &r);
    quorbel::CompanionPosition at = quorbel::CompanionPositionFor(r.left, r.top);
    wchar_t number[16];
    const wchar_t* section = AsWide(quorbel::kCompanionSection);
    auto writeNumber = [&](const char16_t* key, int32_t value) {
        swprintf(number, ARRAYSIZE(number), L"%d", static_cast<int>(value));
        WritePrivateProfileStringW(section, AsWide(key), number, file.c_str());
    };
    writeNumber(quorbel::kKeyMotoX, at.x);
    writeNumber(quorbel::kKeyMotoY, at.y);
    writeNumber(quorbel::kKeyIdTime, g_companion.idTime);
    writeNumber(quorbel::kKeyPwTime, g_companion.pwTime);
    WritePrivateProfileStringW(section, AsWide(quorbel::kKeyAdminId), g_companion.adminId, file.c_str());
    WritePrivateProfileStringW(section, AsWide(quorbel::kKeyAdminPw), g_companion.adminPw, file.c_str());
}

void ListIpBatchFiles(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_LISTBOX_451);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    auto pattern = quorbel::BatchSearchPattern(AsU16View(StartupFolder()));
    if (!pattern) return;  // no batch folder can exist under such a long start-up folder
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(AsWide(pattern->c_str()), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        // The pattern also matches through 8.3 names ("x.bate" as X~1.BAT)
        // and takes folders; only files that end in ".bat" are batch files.
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!IsBatchFileName(found.cFileName)) continue;
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void ShowCompanionSettings(HWND dialog) {
    CheckDlgButton(dialog, IDC_CHECK_521, BST_UNCHECKED);
    if (g_settings.companionLaunch != 0) CheckDlgButton(dialog, IDC_CHECK_521, BST_CHECKED);
    SetNumber(dialog, IDC_EDIT_231, g_companion.idTime);
    SetNumber(dialog, IDC_EDIT_232, g_companion.pwTime);
    SetDlgItemTextW(dialog, IDC_EDIT_233, g_companion.adminId);
    SetDlgItemTextW(dialog, IDC_EDIT_234, g_companion.adminPw);
}

void TakeCompanionSettings(HWND dialog) {
    g_settings.companionLaunch = IsDlgButtonChecked(dialog, IDC_CHECK_521) == BST_CHECKED ? 1 : 0;
    g_companion.idTime = TakeTime(dialog, IDC_EDIT_231);
    g_companion.pwTime = TakeTime(dialog, IDC_EDIT_232);
    TakeText(dialog, IDC_EDIT_233, g_companion.adminId);
    TakeText(dialog, IDC_EDIT_234, g_companion.adminPw);
}

void RunIpBatchFile(HWND dialog) {
    auto path = SelectedBatchPath(dialog);
    if (!path) return;
    SetCurrentDirectoryW(StartupFolder());
    if (g_settings.companionLaunch != 0) {
        WriteCompanionSettings(dialog);
        StartCompanion(dialog);
    }
    RunAsAdministrator(dialog, path->c_str());
}

bool RunAsAdministrator(HWND owner, const wchar_t* fullPath) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    // The failure is reported below, once, by this program's own box.
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = fullPath;
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return true;
    quorbel::u16 text = quorbel::RunAsFailureText(AsU16View(fullPath));
    ShowMessageBox(owner, AsWide(text.c_str()), L"Error", MB_OK | MB_ICONERROR);
    return false;
}

void DeleteIpBatchFile(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_LISTBOX_451);
    auto path = SelectedBatchPath(dialog);
    if (!path) return;
    SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(SendMessageW(list, LB_GETCURSEL, 0, 0)), 0);
    // A file that cannot go (read-only, in use) comes back with the next listing.
    DeleteFileW(path->c_str());
}

INT_PTR RunIpAddressDialog(HWND owner) {
    return DialogBoxParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_IPADDRESS), owner, IpAddressDialogProc, 0);
}
