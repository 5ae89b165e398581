// The IP tool's files and the companion zelvane.exe, driven through the dialogs.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "win/iptool/iptool.h"
#include "support.h"

// Selects `row` of the list box: its index, or LB_ERR (below 0) when it is not listed.
static LRESULT Choose(HWND dialog, int id, const wchar_t* row) {
    const LRESULT index = SendDlgItemMessageW(dialog, id, LB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(row));
    return SendDlgItemMessageW(dialog, id, LB_SETCURSEL, index, 0), index;
}

static std::wstring Clipboard() {
    if (!OpenClipboard(nullptr)) return L"?";
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const std::wstring text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : L"";
    if (data) GlobalUnlock(data);
    return CloseClipboard(), text;
}

// zelvane.exe (built next to the tests) copied into `folder`; its path there.
static std::wstring Companion(const std::wstring& folder) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::filesystem::copy_file(std::filesystem::path(self).replace_filename(L"zelvane.exe"), folder + L"\\zelvane.exe");
    return folder + L"\\zelvane.exe";
}

TEST(IpTool, SetWritesTheNetshLineForTheChosenAdapter) {
    Boxes boxes;
    Folder folder(L"qb_addip");
    for (bool dhcp : {false, true})
        DriveDialogs([&] { RunAddIpDialog(nullptr, folder.path); }, [&](HWND dialog, int) {
            SendDlgItemMessageW(dialog, IDC_ADDIP_ADAPTERS, LB_ADDSTRING, 0, LPARAM(L"イーサネット 2"));
            Choose(dialog, IDC_ADDIP_ADAPTERS, L"イーサネット 2");
            CheckDlgButton(dialog, IDC_ADDIP_AUTO, dhcp ? BST_CHECKED : BST_UNCHECKED);
            SetDlgItemTextW(dialog, IDC_ADDIP_ADDRESS3, L"1"), SetDlgItemTextW(dialog, IDC_ADDIP_ADDRESS4, L"10");
            Click(dialog, IDC_ADDIP_SET);
        });
    const std::string line = "netsh interface ip set address \"\x83\x43\x81\x5b\x83\x54\x83\x6c\x83\x62\x83\x67 2\" ";
    const std::wstring batch = folder.path + L"\\ipaddress\\イーサネット 2_";
    EXPECT_EQ(ReadBytes(batch + L"192_168_1_10.bat"), line + "static 192.168.1.10 255.255.255.0\r\n");
    EXPECT_EQ(ReadBytes(batch + L"auto.bat"), line + "dhcp\r\n");
    EXPECT_TRUE(boxes.All().empty());
}

TEST(IpTool, ChangeHandsTheAdministratorPairToTheCompanionThroughTheClipboard) {
    Boxes boxes;  // whatever the elevation of the batch file gives under Wine
    Folder folder(L"qb_iptool");
    Companion(folder.path);
    const std::wstring batches = folder.path + L"\\ipaddress\\";
    CreateDirectoryW(batches.c_str(), nullptr);
    for (const wchar_t* name : {L"a.bat", L"b.bat", L"notes.txt"}) WriteBytes(batches + name, "rem\r\n");
    int32_t launch = 1;
    quorbel::CompanionSettings companion;
    IpToolValues values{folder.path, launch, companion};
    std::wstring listed;  // the rows and which of them are there, before and after "Delete"
    DriveDialogs([&] { RunIpAddressDialog(nullptr, values); }, [&](HWND dialog, int) {
        SetWindowPos(dialog, nullptr, 500, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        auto rows = [&] { return std::to_wstring(SendDlgItemMessageW(dialog, IDC_IP_FILES, LB_GETCOUNT, 0, 0)); };
        auto shown = [&](const wchar_t* row) { return Choose(dialog, IDC_IP_FILES, row) < 0 ? L"-" : L"+"; };
        listed = rows();
        listed += shown(L"b.bat");
        listed += shown(L"a.bat");
        Click(dialog, IDC_IP_DELETE);  // the row chosen last
        listed += L";" + rows();
        listed += shown(L"a.bat");
        listed += shown(L"b.bat");  // for "Change"
        SetDlgItemTextW(dialog, IDC_IP_ID_TIME, L"1500"), SetDlgItemTextW(dialog, IDC_IP_PW_TIME, L"1500");
        SetDlgItemTextW(dialog, IDC_IP_ADMIN_ID, L"管理者"), SetDlgItemTextW(dialog, IDC_IP_ADMIN_PW, L"秘密の語");
        Click(dialog, IDC_IP_CHANGE);
    });
    EXPECT_EQ(listed, L"2++;1-+");  // listed afresh from the folder
    std::wstring written;
    for (const wchar_t* key : {L"moto_x", L"moto_y", L"id_time", L"pw_time", L"id_wcs", L"pw_wcs"}) {
        wchar_t value[300] = {};
        GetPrivateProfileStringW(L"Setting", key, L"-", value, 300, (folder.path + L"\\zelvane.ini").c_str());
        written += value + std::wstring(L";");
    }
    EXPECT_EQ(written, L"200;250;1500;1500;管理者;秘密の語;");
    // The companion started from the folder: the ID, then the password, then nothing.
    EXPECT_TRUE(PumpUntil([] { return Clipboard() == L"管理者"; }, 20000));
    EXPECT_TRUE(PumpUntil([] { return Clipboard() == L"秘密の語"; }, 5000));
    EXPECT_TRUE(PumpUntil([] { return Clipboard().empty() && !FindWindowW(nullptr, L"zelvane"); }, 5000));
}

TEST(IpTool, TheCompanionClosedWhileTheClipboardIsBusyStillLeavesNoPartOfThePair) {
    Folder folder(L"qb_companion");
    const std::wstring program = Companion(folder.path);
    for (auto [key, value] : {std::pair{L"id_time", L"100"}, {L"pw_time", L"60000"}, {L"id_wcs", L"管理者"}})
        WritePrivateProfileStringW(L"Setting", key, value, (folder.path + L"\\zelvane.ini").c_str());
    ShellExecuteW(nullptr, L"open", program.c_str(), nullptr, folder.path.c_str(), SW_SHOWNOACTIVATE);
    ASSERT_TRUE(PumpUntil([] { return Clipboard() == L"管理者"; }, 20000) && OpenClipboard(nullptr));
    HWND shown = nullptr;  // the clipboard held when the password should take the ID's place:
    EXPECT_TRUE(PumpUntil([&] { return Text(GetWindow(shown = FindWindowW(0, L"zelvane"), GW_CHILD)) > L"Waiting"; }));
    PostMessageW(shown, WM_CLOSE, 0, 0), CloseClipboard();
    EXPECT_TRUE(PumpUntil([] { return Clipboard().empty() && !FindWindowW(nullptr, L"zelvane"); }, 10000));
}
