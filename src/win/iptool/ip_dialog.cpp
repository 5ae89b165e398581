// "IP Address Setting": the batch files of the ipaddress folder, run with
// administrator rights, optionally after the companion tool that keeps the
// administrator ID and password on the clipboard.
#include <windows.h>
#include <shellapi.h>

#include <optional>

#include "core/panes/row_rules.h"
#include "core/iptool/ipbatch.h"
#include "core/base/path_rules.h"
#include "win/iptool/iptool.h"
#include "win/res/resource.h"
#include "win/base/dialog_state.h"
#include "win/base/msgbox.h"
#include "win/base/win_files.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;

// What each edit gives, terminator excluded.
constexpr int kTimeEditChars = static_cast<int>(quorbel::kCompanionTimeEditChars);
constexpr int kTextEditChars = static_cast<int>(quorbel::kCompanionTextEditChars);
// What zelvane.ini can give back whole.
constexpr int kTextReadChars = static_cast<int>(quorbel::kCompanionTextReadChars);

std::optional<std::wstring> CompanionFile(const IpToolValues& v) {
    const auto path = quorbel::JoinPath(AsU16View(v.startupFolder), quorbel::kCompanionFileName);
    return path ? std::optional<std::wstring>(ToWide(*path)) : std::nullopt;
}

void ReadCompanionSettings(IpToolValues& v) {
    SetCurrentDirectoryW(v.startupFolder.c_str());
    v.companion = quorbel::CompanionSettings{};
    // A start-up folder too long for the file: the defaults.
    if (auto file = CompanionFile(v)) {
        WinIniSection ini(*file, AsWide(quorbel::kCompanionSection));
        quorbel::LoadCompanionSettings(ini, v.companion);
    }
}

void WriteCompanionSettings(HWND dialog, IpToolValues& v) {
    SetCurrentDirectoryW(v.startupFolder.c_str());
    const auto file = CompanionFile(v);
    if (!file) return;
    RECT r = {};
    GetWindowRect(dialog, &r);
    quorbel::PlaceCompanion(v.companion, r.left, r.top);
    WinIniSection ini(*file, AsWide(quorbel::kCompanionSection));
    quorbel::SaveCompanionSettings(ini, v.companion);
}

void ShowCompanionSettings(HWND dialog, const IpToolValues& v) {
    CheckDlgButton(dialog, IDC_IP_COMPANION, v.companionLaunch != 0 ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(dialog, IDC_IP_ID_TIME, Decimal(v.companion.idTime).c_str());
    SetDlgItemTextW(dialog, IDC_IP_PW_TIME, Decimal(v.companion.pwTime).c_str());
    SetDlgItemTextW(dialog, IDC_IP_ADMIN_ID, ToWide(v.companion.adminId).c_str());
    SetDlgItemTextW(dialog, IDC_IP_ADMIN_PW, ToWide(v.companion.adminPw).c_str());
}

void TakeCompanionSettings(HWND dialog, IpToolValues& v) {
    v.companionLaunch = IsDlgButtonChecked(dialog, IDC_IP_COMPANION) == BST_CHECKED ? 1 : 0;
    v.companion.idTime = quorbel::ReadCompanionTime(AsU16View(ItemText(dialog, IDC_IP_ID_TIME, kTimeEditChars)));
    v.companion.pwTime = quorbel::ReadCompanionTime(AsU16View(ItemText(dialog, IDC_IP_PW_TIME, kTimeEditChars)));
    v.companion.adminId = AsU16View(ItemText(dialog, IDC_IP_ADMIN_ID, kTextEditChars));
    v.companion.adminPw = AsU16View(ItemText(dialog, IDC_IP_ADMIN_PW, kTextEditChars));
}

void ListIpBatchFiles(HWND dialog, const IpToolValues& v) {
    HWND list = GetDlgItem(dialog, IDC_IP_FILES);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    const auto pattern = quorbel::BatchFilePath(AsU16View(v.startupFolder), u"*.bat");
    if (!pattern) return;  // no batch folder can exist under such a long start-up folder
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(AsWide(pattern->c_str()), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        // The pattern also matches through 8.3 names ("x.bate" as X~1.BAT)
        // and takes folders; only files that end in ".bat" are batch files.
        const quorbel::u16view name = AsU16View(found.cFileName);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.size() <= 4 ||
            quorbel::CompareNoCase(name.substr(name.size() - 4), u".bat") != 0)
            continue;
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// The selected row's file: start-up folder + "\ipaddress\" + the row;
// nullopt (after the box) with no selection or a path that would not fit.
std::optional<std::wstring> SelectedBatchPath(HWND dialog, const IpToolValues& v) {
    HWND list = GetDlgItem(dialog, IDC_IP_FILES);
    const LRESULT row = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (row == LB_ERR) {
        ShowBox(dialog, texts::kSelectItem, MB_OK);
        return std::nullopt;
    }
    std::wstring name(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, row, 0)) + 1, L'\0');
    name.resize(static_cast<size_t>(SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(name.data()))));
    const auto path = quorbel::BatchFilePath(AsU16View(v.startupFolder), AsU16View(name));
    if (!path) {
        ShowBox(dialog, texts::kBatchPathTooLong, MB_OK | MB_ICONWARNING);
        return std::nullopt;
    }
    return ToWide(*path);
}

bool RunAsAdministrator(HWND owner, const std::wstring& path) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    // A failure is reported once, by this program's own box.
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return true;
    ShowBox(owner, texts::kRunAsFailed, MB_OK | MB_ICONERROR, {AsU16View(path)});
    return false;
}

void RunIpBatchFile(HWND dialog, IpToolValues& v) {
    const auto path = SelectedBatchPath(dialog, v);
    if (!path) return;
    SetCurrentDirectoryW(v.startupFolder.c_str());
    if (v.companionLaunch != 0) {
        WriteCompanionSettings(dialog, v);
        // By its full name in the start-up folder, so that no other
        // zelvane.exe on the search path is started by mistake.
        if (const auto program = quorbel::JoinPath(AsU16View(v.startupFolder), quorbel::kCompanionProgram))
            ShellExecuteW(dialog, L"open", AsWide(program->c_str()), nullptr, v.startupFolder.c_str(), SW_SHOWNORMAL);
    }
    RunAsAdministrator(dialog, *path);
}

void DeleteIpBatchFile(HWND dialog, const IpToolValues& v) {
    const auto path = SelectedBatchPath(dialog, v);
    if (!path) return;
    HWND list = GetDlgItem(dialog, IDC_IP_FILES);
    SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(SendMessageW(list, LB_GETCURSEL, 0, 0)), 0);
    // A file that cannot go (read-only, in use) comes back with the next listing.
    DeleteFileW(path->c_str());
}

INT_PTR CALLBACK IpAddressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        KeepDialogState(dialog, reinterpret_cast<IpToolValues*>(lParam));
        SendDlgItemMessageW(dialog, IDC_IP_ADMIN_ID, EM_LIMITTEXT, kTextReadChars, 0);
        SendDlgItemMessageW(dialog, IDC_IP_ADMIN_PW, EM_LIMITTEXT, kTextReadChars, 0);
        IpToolValues& v = DialogState<IpToolValues>(dialog);
        ReadCompanionSettings(v);
        ListIpBatchFiles(dialog, v);
        ShowCompanionSettings(dialog, v);
        return TRUE;
    }
    if (GetWindowLongPtrW(dialog, DWLP_USER) == 0) return FALSE;
    IpToolValues& v = DialogState<IpToolValues>(dialog);
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_IP_CHANGE:
                    TakeCompanionSettings(dialog, v);
                    RunIpBatchFile(dialog, v);
                    EndDialog(dialog, 1);
                    return FALSE;
                case IDC_IP_ADD:
                    RunAddIpDialog(dialog, v.startupFolder);
                    ListIpBatchFiles(dialog, v);
                    return FALSE;
                case IDC_IP_DELETE:
                    DeleteIpBatchFile(dialog, v);
                    ListIpBatchFiles(dialog, v);
                    return FALSE;
                case IDC_IP_CANCEL:
                    TakeCompanionSettings(dialog, v);
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

INT_PTR RunIpAddressDialog(HWND owner, IpToolValues& values) {
    return DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_IPADDRESS), owner, IpAddressDialogProc,
                           reinterpret_cast<LPARAM>(&values));
}
