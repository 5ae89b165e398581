// The IP address tool in-process: the Add-IP dialog and its batch files,
// the adapter list, the IP Address Setting dialog with its list, delete,
// elevated run and the companion tool zelvane.exe.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/wintext.h"
#include "iptool/adapters.h"
#include "iptool/iptool.h"
#include "res/resource.h"
#include "win_test_support.h"

using namespace testing_support;

namespace {

constexpr char kFixedLine[] = "netsh interface ip set address \"Ethernet\" static 192.168.1.10 255.255.255.0\r\n";
constexpr char kDhcpLine[] = "netsh interface ip set address \"Ethernet\" dhcp\r\n";

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
void Press(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::vector<std::wstring> Rows(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_LISTBOX_451);
    std::vector<std::wstring> rows;
    LRESULT n = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        text.resize(static_cast<size_t>(SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        rows.push_back(text);
    }
    return rows;
}

// Adds a row and selects it.
void AddAndSelect(HWND dialog, const std::wstring& text) {
    HWND list = GetDlgItem(dialog, IDC_LISTBOX_451);
    LRESULT row = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
}

void Select(HWND dialog, const std::wstring& text) {
    HWND list = GetDlgItem(dialog, IDC_LISTBOX_451);
    LRESULT row = SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    ASSERT_NE(row, LB_ERR) << Narrow(text);
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring ZelvaneIni(const std::wstring& folder, const wchar_t* key) {
    wchar_t buf[512] = {};
    GetPrivateProfileStringW(L"Setting", key, L"<missing>", buf, ARRAYSIZE(buf), (folder + L"\\zelvane.ini").c_str());
    return buf;
}

std::wstring ClipboardText() {
    std::wstring text;
    for (int attempt = 0; attempt < 20 && !OpenClipboard(nullptr); ++attempt) Sleep(10);
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void SetClipboardText(const std::wstring& text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
}

HWND FindZelvane() { return FindWindowW(L"ZelvaneWindow", nullptr); }

// The clipboard and the zelvane window belong to the whole desktop, which
// test processes running side by side share: one such test at a time.
class CompanionLock {
public:
    CompanionLock() : mutex_(CreateMutexW(nullptr, FALSE, L"QuorbelCompanionTests")) {
        if (mutex_) WaitForSingleObject(mutex_, 120000);
    }
    ~CompanionLock() {
        if (mutex_) {
            ReleaseMutex(mutex_);
            CloseHandle(mutex_);
        }
    }
    CompanionLock(const CompanionLock&) = delete;
    CompanionLock& operator=(const CompanionLock&) = delete;

private:
    HANDLE mutex_;
};

// Ends any zelvane window left by a test.
void CloseZelvane() {
    for (HWND w = FindZelvane(); w; w = FindZelvane()) {
        PostMessageW(w, WM_CLOSE, 0, 0);
        if (!PumpUntil([&] { return !IsWindow(w); }, 5000)) break;
    }
}

class IpToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetShellState();
        g_shell.instance = GetModuleHandleW(nullptr);
        CopyText(g_shell.startupFolder, folder.path().c_str());
        SetCurrentDirectoryW(folder.path().c_str());
        g_settings.companionLaunch = 0;
    }
    void TearDown() override {
        SetCurrentDirectoryW(ProgramFolder().c_str());  // so the temp folder can go
    }
    std::wstring BatchFolder() const { return folder.file(L"ipaddress"); }
    std::wstring Batch(const std::wstring& name) const { return BatchFolder() + L"\\" + name; }
    void WriteBatch(const std::wstring& name, const std::string& bytes) const {
        CreateDirectoryW(BatchFolder().c_str(), nullptr);
        folder.write(L"ipaddress\\" + name, bytes);
    }
    // A batch file that leaves a marker file behind when it runs.
    std::wstring WriteMarkerBatch(const std::wstring& name) const {
        std::wstring marker = folder.file(L"marker.txt");
        WriteBatch(name, "@echo ran> \"" + Narrow(marker) + "\"\r\n");
        return marker;
    }
    INT_PTR RunAddIp(const std::function<void(HWND)>& act) {
        return DriveModal([] { return RunAddIpDialog(nullptr); }, act);
    }
    INT_PTR RunIpTool(const std::function<void(HWND, int)>& act) {
        INT_PTR result = -2;
        DriveModals([&] { result = RunIpAddressDialog(nullptr); }, act);
        return result;
    }
    TempFolder folder;
    BoxRecorder boxes;
};

}  // namespace

// ---- Add IP Address ----

TEST_F(IpToolTest, AddIpWritesTheFixedAndTheDhcpFileByteForByte) {
    std::wstring title;
    bool fieldsOn = false;
    INT_PTR r = RunAddIp([&](HWND d) {
        title = TextOf(d);
        const wchar_t* defaults[] = {L"192", L"168", L"", L"", L"255", L"255", L"255", L"0"};
        for (int i = 0; i < 8; ++i) EXPECT_EQ(ControlText(d, IDC_EDIT_231 + i), defaults[i]) << i;
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_CHECK_521), static_cast<UINT>(BST_UNCHECKED));
        fieldsOn = Enabled(d, IDC_EDIT_231) && Enabled(d, IDC_EDIT_238);
        AddAndSelect(d, L"Ethernet");
        SetDlgItemTextW(d, IDC_EDIT_233, L"1");
        SetDlgItemTextW(d, IDC_EDIT_234, L"10");
        Click(d, IDC_BUTTON_202);
    });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(title, L"Add IP Address");
    EXPECT_TRUE(fieldsOn);
    EXPECT_EQ(boxes.count(), 0u);
    std::string fixed = ReadFileBytes(Batch(L"Ethernet_192_168_1_10.bat"));
    EXPECT_EQ(fixed, kFixedLine);
    EXPECT_EQ(fixed.size(), 77u);

    // Opened again: the defaults again. "Auto" with every field empty.
    r = RunAddIp([&](HWND d) {
        EXPECT_EQ(ControlText(d, IDC_EDIT_233), L"");
        AddAndSelect(d, L"Ethernet");
        for (int id = IDC_EDIT_231; id <= IDC_EDIT_238; ++id) SetDlgItemTextW(d, id, L"");
        Press(d, IDC_CHECK_521);
        for (int id = IDC_EDIT_231; id <= IDC_EDIT_238; ++id) EXPECT_FALSE(Enabled(d, id)) << id;
        Click(d, IDC_BUTTON_202);
    });
    EXPECT_EQ(boxes.count(), 0u);
    std::string dhcp = ReadFileBytes(Batch(L"Ethernet_auto.bat"));
    EXPECT_EQ(dhcp, kDhcpLine);
    EXPECT_EQ(dhcp.size(), 48u);
}

TEST_F(IpToolTest, AddIpReadsThreeCharactersOfEachFieldAndReplacesAnEarlierFile) {
    RunAddIp([&](HWND d) {
        AddAndSelect(d, L"Ethernet");
        const wchar_t* fields[] = {L"1234", L"abc", L" ", L"-1", L"300", L"255", L"255", L"0"};
        for (int i = 0; i < 8; ++i) SetDlgItemTextW(d, IDC_EDIT_231 + i, fields[i]);
        Click(d, IDC_BUTTON_202);
    });
    EXPECT_EQ(ReadFileBytes(Batch(L"Ethernet_123_0_0_-1.bat")),
              "netsh interface ip set address \"Ethernet\" static 123.0.0.-1 300.255.255.0\r\n");

    // Same adapter and address, another mask: the same file, replaced.
    RunAddIp([&](HWND d) {
        AddAndSelect(d, L"Ethernet");
        const wchar_t* fields[] = {L"1234", L"abc", L" ", L"-1", L"255", L"0", L"0", L"0"};
        for (int i = 0; i < 8; ++i) SetDlgItemTextW(d, IDC_EDIT_231 + i, fields[i]);
        Click(d, IDC_BUTTON_202);
    });
    EXPECT_EQ(ReadFileBytes(Batch(L"Ethernet_123_0_0_-1.bat")),
              "netsh interface ip set address \"Ethernet\" static 123.0.0.-1 255.0.0.0\r\n");
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(IpToolTest, AddIpRefusesMissingFieldsNoSelectionAndOverlongNames) {
    // An empty mask field: refused although the mask is not in the name.
    INT_PTR r = RunAddIp([&](HWND d) {
        AddAndSelect(d, L"Ethernet");
        SetDlgItemTextW(d, IDC_EDIT_233, L"1");
        SetDlgItemTextW(d, IDC_EDIT_234, L"10");
        SetDlgItemTextW(d, IDC_EDIT_238, L"");
        Click(d, IDC_BUTTON_202);
    });
    EXPECT_EQ(r, 1);  // closed after the message
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"Please enter all addresses.");
    EXPECT_EQ(boxes.last().caption, L"input");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK));
    EXPECT_FALSE(Exists(BatchFolder()));

    boxes.clear();
    RunAddIp([&](HWND d) {
        SendDlgItemMessageW(d, IDC_LISTBOX_451, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        Click(d, IDC_BUTTON_202);
    });
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"Please select an item.");
    EXPECT_EQ(boxes.last().caption, L"listbox");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK | MB_ICONWARNING));

    // A name longer than a batch line can take is refused, not cut.
    boxes.clear();
    RunAddIp([&](HWND d) {
        AddAndSelect(d, std::wstring(300, L'e'));
        Press(d, IDC_CHECK_521);
        Click(d, IDC_BUTTON_202);
    });
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"The adapter name is too long.");
    EXPECT_FALSE(Exists(BatchFolder()));
}

TEST_F(IpToolTest, AddIpRefusesNamesLinesAndPathsOverTheirLimits) {
    struct Case {
        std::wstring row;
        bool dhcp;
        const wchar_t* text;
    };
    const Case cases[] = {
        // 130 characters of two bytes each: 260 ANSI bytes.
        {std::wstring(130, L'\u65e5'), true, L"The adapter name is too long."},
        // A name that fits, but whose fixed netsh line would pass 255 bytes.
        {std::wstring(200, L'a'), false, L"The adapter name is too long."},
    };
    for (const Case& c : cases) {
        boxes.clear();
        RunAddIp([&](HWND d) {
            AddAndSelect(d, c.row);
            if (c.dhcp) Press(d, IDC_CHECK_521);
            SetDlgItemTextW(d, IDC_EDIT_233, L"1");
            SetDlgItemTextW(d, IDC_EDIT_234, L"10");
            Click(d, IDC_BUTTON_202);
        });
        ASSERT_EQ(boxes.count(), 1u);
        EXPECT_EQ(boxes.last().text, c.text);
        EXPECT_EQ(boxes.last().caption, L"input");
    }
    // The same 200-character name fits as a DHCP line.
    boxes.clear();
    RunAddIp([&](HWND d) {
        AddAndSelect(d, std::wstring(200, L'a'));
        Press(d, IDC_CHECK_521);
        Click(d, IDC_BUTTON_202);
    });
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(ReadFileBytes(Batch(std::wstring(200, L'a') + L"_auto.bat")).size(), 240u);

    // A path past 259 characters under a deep start-up folder.
    boxes.clear();
    const std::wstring deep = folder.path() + L"\\" + std::wstring(240 - folder.path().size(), L'x');
    CopyText(g_shell.startupFolder, deep.c_str());
    RunAddIp([&](HWND d) {
        AddAndSelect(d, L"Ethernet");
        Press(d, IDC_CHECK_521);
        Click(d, IDC_BUTTON_202);
    });
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"The file path is too long.");
    EXPECT_EQ(boxes.last().caption, L"file error");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
}

TEST_F(IpToolTest, AddIpAutoKeepsTheFieldTextsAndSearchKeepsTheFields) {
    RunAddIp([&](HWND d) {
        SetDlgItemTextW(d, IDC_EDIT_233, L"42");
        Press(d, IDC_CHECK_521);
        EXPECT_FALSE(Enabled(d, IDC_EDIT_233));
        Press(d, IDC_CHECK_521);
        EXPECT_TRUE(Enabled(d, IDC_EDIT_233));
        EXPECT_TRUE(Enabled(d, IDC_EDIT_238));
        EXPECT_EQ(ControlText(d, IDC_EDIT_233), L"42");

        AddAndSelect(d, L"Ethernet");
        Click(d, IDC_BUTTON_201);  // SEARCH
        EXPECT_EQ(SendDlgItemMessageW(d, IDC_LISTBOX_451, LB_GETCURSEL, 0, 0), LB_ERR);
        EXPECT_EQ(ControlText(d, IDC_EDIT_233), L"42");
        Click(d, IDC_BUTTON_203);  // Close
    });
    EXPECT_FALSE(Exists(BatchFolder()));
    EXPECT_EQ(boxes.count(), 0u);
}

// ---- Network adapters ----

TEST_F(IpToolTest, AdapterListLeavesOutTheLoopbackAndNeverDoublesRows) {
    // What the system reports, independently of the dialog.
    std::set<std::wstring> loopback, named;
    ULONG size = 0;
    ASSERT_EQ(GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, nullptr, &size),
              static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    std::vector<unsigned char> block(size + 4096);
    size = static_cast<ULONG>(block.size());
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(block.data());
    ASSERT_EQ(GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, first, &size), 0u);
    for (auto* a = first; a; a = a->Next) {
        if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) loopback.insert(a->FriendlyName);
        else if (a->FriendlyName && *a->FriendlyName) named.insert(a->FriendlyName);
    }
    ASSERT_FALSE(loopback.empty()) << "Wine lists a loopback adapter";

    std::vector<std::wstring> first_rows, second_rows;
    bool sorted = true;
    RunAddIp([&](HWND d) {
        sorted = (GetWindowLongW(GetDlgItem(d, IDC_LISTBOX_451), GWL_STYLE) & LBS_SORT) != 0;
        first_rows = Rows(d);
        Click(d, IDC_BUTTON_201);
        Click(d, IDC_BUTTON_201);
        second_rows = Rows(d);
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(first_rows, second_rows);
    std::set<std::wstring> unique(second_rows.begin(), second_rows.end());
    EXPECT_EQ(unique.size(), second_rows.size());
    for (const std::wstring& row : second_rows) {
        EXPECT_EQ(loopback.count(row), 0u) << Narrow(row);
        EXPECT_EQ(named.count(row), 1u) << Narrow(row);
    }
    EXPECT_EQ(second_rows.size(), named.size());
    EXPECT_FALSE(sorted);  // the rows keep the system's order
}

namespace {

// Adapter records built by hand, chained in order.
struct FakeAdapters {
    struct Address {
        sockaddr_in v4{};
        sockaddr_in6 v6{};
        IP_ADAPTER_UNICAST_ADDRESS unicast{};
    };
    std::vector<IP_ADAPTER_ADDRESSES> adapters;
    std::vector<std::vector<Address>> addresses;
    std::vector<std::wstring> texts;

    FakeAdapters() {
        adapters.reserve(32);
        addresses.reserve(32);
        texts.reserve(64);
    }
    // `chain` holds "v4:a.b.c.d" or "v6:text" items; null name or
    // description stays null.
    void Add(const wchar_t* name, const wchar_t* description, std::vector<std::string> chain = {}) {
        adapters.push_back({});
        IP_ADAPTER_ADDRESSES& a = adapters.back();
        if (name) a.FriendlyName = const_cast<wchar_t*>(texts.emplace_back(name).c_str());
        if (description) a.Description = const_cast<wchar_t*>(texts.emplace_back(description).c_str());
        auto& list = addresses.emplace_back(chain.size());
        for (size_t i = 0; i < chain.size(); ++i) {
            Address& x = list[i];
            const std::string text = chain[i].substr(3);
            if (chain[i].rfind("v4:", 0) == 0) {
                x.v4.sin_family = AF_INET;
                inet_pton(AF_INET, text.c_str(), &x.v4.sin_addr);
                x.unicast.Address.lpSockaddr = reinterpret_cast<SOCKADDR*>(&x.v4);
            } else {
                x.v6.sin6_family = AF_INET6;
                inet_pton(AF_INET6, text.c_str(), &x.v6.sin6_addr);
                x.unicast.Address.lpSockaddr = reinterpret_cast<SOCKADDR*>(&x.v6);
            }
            if (i > 0) list[i - 1].unicast.Next = &x.unicast;
        }
        a.FirstUnicastAddress = list.empty() ? nullptr : &list[0].unicast;
        if (adapters.size() > 1) adapters[adapters.size() - 2].Next = &a;
    }
};

}  // namespace

TEST(AdapterRows, KeepTheSystemOrderAndLeaveOutWifiDirectLoopbackAndUnusableNames) {
    FakeAdapters f;
    f.Add(L"Ethernet", L"Intel(R) Ethernet", {"v4:192.168.1.10"});
    f.Add(L"Local Area Connection* 1", L"microsoft wi-fi direct virtual adapter #2", {"v4:169.254.1.1"});
    f.Add(L"Wi-Fi", L"Intel Wireless with Microsoft Wi-Fi Direct", {"v6:fe80::1", "v4:10.0.0.2"});
    f.Add(L"", L"nameless", {"v4:10.0.0.3"});  // skipped; the rest still listed
    f.Add(nullptr, nullptr);
    f.Add(std::wstring(512, L'n').c_str(), L"too long", {});
    f.Add(L"Loopback Pseudo-Interface 1", L"Software Loopback Interface 1", {"v6:::1", "v4:127.0.0.1"});
    f.Add(L"lo15", L"", {"v4:127.0.0.15"});
    f.Add(L"v4 then v6", L"", {"v4:127.0.0.1", "v6:::1"});
    f.Add(L"No address", L"Bluetooth");
    f.Add(std::wstring(511, L'm').c_str(), L"longest name", {"v4:10.0.0.9"});
    EXPECT_EQ(AdapterRows(&f.adapters[0]),
              (std::vector<std::wstring>{L"Ethernet", L"Wi-Fi", L"v4 then v6", L"No address", std::wstring(511, L'm')}));
    EXPECT_TRUE(AdapterRows(nullptr).empty());
}

// ---- IP Address Setting ----

TEST_F(IpToolTest, WithoutZelvaneIniTheDialogShowsTheDefaults) {
    g_settings.companionLaunch = 1;
    std::wstring title, idTime, pwTime, id, pw;
    bool checked = false, sorted = true;
    INT_PTR r = RunIpTool([&](HWND d, int) {
        title = TextOf(d);
        idTime = ControlText(d, IDC_EDIT_231);
        pwTime = ControlText(d, IDC_EDIT_232);
        id = ControlText(d, IDC_EDIT_233);
        pw = ControlText(d, IDC_EDIT_234);
        checked = IsDlgButtonChecked(d, IDC_CHECK_521) == BST_CHECKED;
        sorted = (GetWindowLongW(GetDlgItem(d, IDC_LISTBOX_451), GWL_STYLE) & LBS_SORT) != 0;
        EXPECT_TRUE(Rows(d).empty());
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(title, L"IP Address Setting");
    EXPECT_EQ(idTime, L"5000");
    EXPECT_EQ(pwTime, L"5000");
    EXPECT_EQ(id, L"ID");
    EXPECT_EQ(pw, L"PW");
    EXPECT_TRUE(checked);
    EXPECT_FALSE(sorted);
    EXPECT_FALSE(Exists(folder.file(L"zelvane.ini")));
}

TEST_F(IpToolTest, ListsOnlyBatchFilesAndReadsZelvaneIni) {
    WriteBatch(L"Ethernet_auto.bat", kDhcpLine);
    WriteBatch(L"Wi-Fi_10_0_0_2.BAT", "rem\r\n");
    WriteBatch(L"notes.txt", "x");
    WriteBatch(L"old.bate", "x");
    CreateDirectoryW(Batch(L"folder.bat").c_str(), nullptr);
    folder.write(L"zelvane.ini",
                 "[Setting]\r\nid_time=1500\r\npw_time=abc\r\nid_wcs=administrator\r\npw_wcs=" + std::string(300, 'p') +
                     "\r\n");
    std::vector<std::wstring> rows;
    std::wstring idTime, pwTime, id, pw;
    RunIpTool([&](HWND d, int) {
        rows = Rows(d);
        idTime = ControlText(d, IDC_EDIT_231);
        pwTime = ControlText(d, IDC_EDIT_232);
        id = ControlText(d, IDC_EDIT_233);
        pw = ControlText(d, IDC_EDIT_234);
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    std::set<std::wstring> listed(rows.begin(), rows.end());
    EXPECT_EQ(listed, (std::set<std::wstring>{L"Ethernet_auto.bat", L"Wi-Fi_10_0_0_2.BAT"}));
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(idTime, L"1500");
    EXPECT_EQ(pwTime, L"0");
    EXPECT_EQ(id, L"administrator");
    EXPECT_EQ(pw, std::wstring(249, L'p'));
}

TEST_F(IpToolTest, CancelTakesTheFieldsAndTheFlagButWritesNothing) {
    g_settings.companionLaunch = 1;
    INT_PTR r = RunIpTool([&](HWND d, int) {
        Press(d, IDC_CHECK_521);
        SetDlgItemTextW(d, IDC_EDIT_231, L"letters");
        SetDlgItemTextW(d, IDC_EDIT_232, L"2500ms");
        SetDlgItemTextW(d, IDC_EDIT_233, L"admin");
        SetDlgItemTextW(d, IDC_EDIT_234, L"secret");
        Click(d, IDC_BUTTON_204);
    });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(g_settings.companionLaunch, 0);
    EXPECT_EQ(g_companion.idTime, 0);
    EXPECT_EQ(g_companion.pwTime, 2500);
    EXPECT_STREQ(g_companion.adminId, L"admin");
    EXPECT_STREQ(g_companion.adminPw, L"secret");
    EXPECT_FALSE(Exists(folder.file(L"zelvane.ini")));

    // The next opening reads zelvane.ini (missing) again; the flag stays.
    std::wstring id;
    RunIpTool([&](HWND d, int) {
        id = ControlText(d, IDC_EDIT_233);
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_CHECK_521), static_cast<UINT>(BST_UNCHECKED));
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(id, L"ID");
}

TEST_F(IpToolTest, DeleteRemovesTheSelectedFileWithoutAsking) {
    WriteBatch(L"a_auto.bat", "rem\r\n");
    WriteBatch(L"b_auto.bat", "rem\r\n");
    WriteBatch(L"locked_auto.bat", "rem\r\n");
    SetFileAttributesW(Batch(L"locked_auto.bat").c_str(), FILE_ATTRIBUTE_READONLY);
    std::vector<std::wstring> afterDelete, afterLocked;
    RunIpTool([&](HWND d, int) {
        Select(d, L"a_auto.bat");
        Click(d, IDC_BUTTON_203);
        afterDelete = Rows(d);
        Select(d, L"locked_auto.bat");
        Click(d, IDC_BUTTON_203);
        afterLocked = Rows(d);
        // Nothing selected after the refresh.
        Click(d, IDC_BUTTON_203);
        EXPECT_TRUE(IsWindowVisible(d));
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_FALSE(Exists(Batch(L"a_auto.bat")));
    EXPECT_TRUE(Exists(Batch(L"b_auto.bat")));
    EXPECT_EQ(std::set<std::wstring>(afterDelete.begin(), afterDelete.end()),
              (std::set<std::wstring>{L"b_auto.bat", L"locked_auto.bat"}));
    // A file that cannot be deleted comes back with the listing.
    EXPECT_TRUE(Exists(Batch(L"locked_auto.bat")));
    EXPECT_EQ(afterLocked.size(), 2u);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"Please select an item.");
    EXPECT_EQ(boxes.last().caption, L"listbox");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK));
}

TEST_F(IpToolTest, AddIpFromTheToolListsTheNewFile) {
    std::vector<std::wstring> rows;
    HWND tool = nullptr, addOwner = nullptr;
    RunIpTool([&](HWND d, int ordinal) {
        if (ordinal == 0) {
            tool = d;
            Click(d, IDC_BUTTON_202);
            rows = Rows(d);
            SendMessageW(d, WM_CLOSE, 0, 0);
        } else {
            addOwner = GetWindow(d, GW_OWNER);
            AddAndSelect(d, L"Ethernet");
            Press(d, IDC_CHECK_521);
            Click(d, IDC_BUTTON_202);
        }
    });
    EXPECT_EQ(addOwner, tool);
    EXPECT_EQ(rows, std::vector<std::wstring>{L"Ethernet_auto.bat"});
}

TEST_F(IpToolTest, RowsWhosePathWouldPassTheLimitAreRefusedNotCut) {
    WriteBatch(L"a_auto.bat", "rem\r\n");
    const std::wstring longName = std::wstring(260 - folder.path().size(), L'z') + L".bat";
    RunIpTool([&](HWND d, int) {
        AddAndSelect(d, longName);
        Click(d, IDC_BUTTON_203);
        EXPECT_TRUE(IsWindowVisible(d));
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"The file path is too long.");
    boxes.clear();
    INT_PTR r = RunIpTool([&](HWND d, int) {
        AddAndSelect(d, longName);
        Click(d, IDC_BUTTON_201);
    });
    EXPECT_EQ(r, 1);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"The file path is too long.");
    EXPECT_TRUE(Exists(Batch(L"a_auto.bat")));
}

TEST_F(IpToolTest, ChangeWithoutSelectionWarnsAndCloses) {
    WriteBatch(L"a_auto.bat", "rem\r\n");
    INT_PTR r = RunIpTool([&](HWND d, int) { Click(d, IDC_BUTTON_201); });
    EXPECT_EQ(r, 1);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"Please select an item.");
    EXPECT_EQ(boxes.last().caption, L"listbox");
}

TEST_F(IpToolTest, ChangeRunsTheSelectedBatchFileWithoutTheCompanion) {
    CompanionLock lock;
    std::wstring marker = WriteMarkerBatch(L"marker_auto.bat");
    CloseZelvane();
    INT_PTR r = RunIpTool([&](HWND d, int) {
        Select(d, L"marker_auto.bat");
        Click(d, IDC_BUTTON_201);
    });
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(PumpUntil([&] { return Exists(marker); }, 20000)) << "the batch file did not run";
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_FALSE(Exists(folder.file(L"zelvane.ini")));
    EXPECT_EQ(FindZelvane(), nullptr);
}

TEST_F(IpToolTest, ChangeWithTheCompanionWritesZelvaneIniAndStartsIt) {
    CompanionLock lock;
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\zelvane.exe").c_str(), folder.file(L"zelvane.exe").c_str(), FALSE));
    std::wstring marker = WriteMarkerBatch(L"marker_auto.bat");
    CloseZelvane();
    SetClipboardText(L"before");
    g_settings.companionLaunch = 1;
    RunIpTool([&](HWND d, int) {
        SetWindowPos(d, nullptr, 500, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        SetDlgItemTextW(d, IDC_EDIT_231, L"600000");
        SetDlgItemTextW(d, IDC_EDIT_232, L"4000");
        SetDlgItemTextW(d, IDC_EDIT_233, L"admin");
        SetDlgItemTextW(d, IDC_EDIT_234, L"s3cret");
        Select(d, L"marker_auto.bat");
        Click(d, IDC_BUTTON_201);
    });
    const std::wstring dir = folder.path();
    EXPECT_EQ(ZelvaneIni(dir, L"moto_x"), L"200");
    EXPECT_EQ(ZelvaneIni(dir, L"moto_y"), L"250");
    EXPECT_EQ(ZelvaneIni(dir, L"id_time"), L"600000");
    EXPECT_EQ(ZelvaneIni(dir, L"pw_time"), L"4000");
    EXPECT_EQ(ZelvaneIni(dir, L"id_wcs"), L"admin");
    EXPECT_EQ(ZelvaneIni(dir, L"pw_wcs"), L"s3cret");
    // Keys in the order they were written.
    std::string ini = ReadFileBytes(folder.file(L"zelvane.ini"));
    size_t last = 0;
    for (const char* key : {"moto_x=", "moto_y=", "id_time=", "pw_time=", "id_wcs=", "pw_wcs="}) {
        size_t at = ini.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GE(at, last) << key;
        last = at;
    }

    EXPECT_TRUE(PumpUntil([&] { return Exists(marker); }, 20000)) << "the batch file did not run";
    HWND companion = nullptr;
    EXPECT_TRUE(PumpUntil([&] { return (companion = FindZelvane()) != nullptr; }, 20000)) << "zelvane did not start";
    if (companion) {
        RECT r;
        GetWindowRect(companion, &r);
        EXPECT_EQ(r.left, 200);
        EXPECT_EQ(r.top, 250);
        EXPECT_TRUE(PumpUntil([] { return ClipboardText() == L"admin"; }, 5000));
        // Closed early: the ID does not stay on the clipboard.
        PostMessageW(companion, WM_CLOSE, 0, 0);
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(companion); }, 5000));
        EXPECT_NE(ClipboardText(), L"admin");
    }
    CloseZelvane();
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(IpToolTest, CompanionPositionIsClampedToTheScreenCorner) {
    RunIpTool([&](HWND d, int) {
        SetWindowPos(d, nullptr, 100, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        WriteCompanionSettings(d);
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(ZelvaneIni(folder.path(), L"moto_x"), L"0");
    EXPECT_EQ(ZelvaneIni(folder.path(), L"moto_y"), L"0");
    EXPECT_EQ(ZelvaneIni(folder.path(), L"id_wcs"), L"ID");
}

TEST_F(IpToolTest, AFileThatCannotStartIsReportedWithItsWholePath) {
    const std::wstring path = folder.file(std::wstring(200, L'd') + L"\\missing_auto.bat");
    EXPECT_FALSE(RunAsAdministrator(nullptr, path.c_str()));
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, path + L" could not be started as administrator");
    EXPECT_EQ(boxes.last().caption, L"Error");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK | MB_ICONERROR));
}

// ---- The companion tool on its own ----

TEST(Zelvane, PutsTheIdThenThePasswordOnTheClipboardThenClearsItAndEnds) {
    CompanionLock lock;
    TempFolder folder;
    const std::wstring exe = folder.file(L"zelvane.exe");
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\zelvane.exe").c_str(), exe.c_str(), FALSE));
    folder.write(L"zelvane.ini",
                 "[Setting]\r\nmoto_x=40\r\nmoto_y=60\r\nid_time=1500\r\npw_time=1500\r\nid_wcs=adm\r\npw_wcs=pw-1\r\n");
    SetClipboardText(L"before");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring command = L"\"" + exe + L"\"";
    // Started from elsewhere: it reads the file next to itself.
    ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    std::vector<std::wstring> seen;
    std::wstring step1, step2;
    DWORD end = GetTickCount() + 15000;
    while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT && GetTickCount() < end) {
        std::wstring text = ClipboardText();
        if (seen.empty() || seen.back() != text) seen.push_back(text);
        if (HWND w = FindZelvane()) {
            std::wstring label = ControlText(w, 100);
            if (label.find(L"Step 1/2") == 0) step1 = label;
            if (label.find(L"Step 2/2") == 0) step2 = label;
        }
    }
    seen.push_back(ClipboardText());
    if (seen.size() > 1 && seen[seen.size() - 2] == seen.back()) seen.pop_back();
    DWORD code = 99;
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0) << "zelvane did not end";
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ClipboardText(), L"");
    std::vector<std::wstring> expected = {L"before", L"adm", L"pw-1", L""};
    // The first look may come after the ID is already there.
    if (!seen.empty() && seen.front() == L"adm") seen.insert(seen.begin(), L"before");
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(step1.empty());
    EXPECT_FALSE(step2.empty());
}

TEST(Zelvane, LeavesAClipboardTextCopiedSinceAlone) {
    CompanionLock lock;
    TempFolder folder;
    const std::wstring exe = folder.file(L"zelvane.exe");
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\zelvane.exe").c_str(), exe.c_str(), FALSE));
    folder.write(L"zelvane.ini", "[Setting]\r\nid_time=500\r\npw_time=2000\r\nid_wcs=adm\r\npw_wcs=pw-1\r\n");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring command = L"\"" + exe + L"\"";
    ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_TRUE(PumpUntil([] { return ClipboardText() == L"pw-1"; }, 10000));
    SetClipboardText(L"mine");
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 15000), WAIT_OBJECT_0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(ClipboardText(), L"mine");
}

// ---- Screenshots ----

TEST_F(IpToolTest, Screenshot) {
    WriteBatch(L"Ethernet_auto.bat", kDhcpLine);
    WriteBatch(L"Ethernet_192_168_1_10.bat", kFixedLine);
    WriteBatch(L"Wi-Fi_10_0_0_25.bat", "rem\r\n");
    g_settings.companionLaunch = 1;
    RunIpTool([&](HWND d, int ordinal) {
        if (ordinal == 0) {
            Select(d, L"Ethernet_192_168_1_10.bat");
            SaveScreenshot(d, L"ip_address_setting");
            Click(d, IDC_BUTTON_202);
            SendMessageW(d, WM_CLOSE, 0, 0);
        } else {
            AddAndSelect(d, L"Ethernet");
            SetDlgItemTextW(d, IDC_EDIT_233, L"1");
            SetDlgItemTextW(d, IDC_EDIT_234, L"10");
            SaveScreenshot(d, L"add_ip_address");
            Click(d, IDC_BUTTON_203);
        }
    });
}

TEST(Zelvane, Screenshot) {
    CompanionLock lock;
    TempFolder folder;
    const std::wstring exe = folder.file(L"zelvane.exe");
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\zelvane.exe").c_str(), exe.c_str(), FALSE));
    folder.write(L"zelvane.ini", "[Setting]\r\nmoto_x=200\r\nmoto_y=250\r\nid_time=60000\r\nid_wcs=admin\r\n");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring command = L"\"" + exe + L"\"";
    ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    HWND w = nullptr;
    if (PumpUntil([&] { return (w = FindZelvane()) != nullptr; }, 10000)) SaveScreenshot(w, L"zelvane");
    CloseZelvane();
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}
