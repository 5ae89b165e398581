// The main window, its settings file, the protected credentials and the
// ID/PW dialog, driven in-process.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "app/credentials.h"
#include "app/settings.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "res/resource.h"
#include "win_test_support.h"

using namespace testing_support;

namespace {

RECT ChildRect(HWND parent, int id) {
    RECT r;
    GetWindowRect(GetDlgItem(parent, id), &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::wstring StatusPart(int part) {
    wchar_t buf[256] = {};
    SendMessageW(g_shell.statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(buf));
    return buf;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteConsentedSettings(folder.path());
        window = CreateMainWindowIn(folder.path());
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        g_shell.connectionOpen = 0;
        DestroyMainWindow(window);
    }
    TempFolder folder;
    BoxRecorder boxes;
    HWND window = nullptr;
};

}  // namespace

TEST(CommandLine, OnlyTheExactArgumentSelectsCommandMode) {
    EXPECT_TRUE(IsCommandModeArgument(L"/CMD"));
    EXPECT_FALSE(IsCommandModeArgument(L"/cmd"));
    EXPECT_FALSE(IsCommandModeArgument(L"/CMD "));
    EXPECT_FALSE(IsCommandModeArgument(L"/CMD /X"));
    EXPECT_FALSE(IsCommandModeArgument(L""));
    EXPECT_FALSE(IsCommandModeArgument(nullptr));
}

TEST(Resources, MenuHoldsEveryCommandWithItsJapaneseText) {
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINMENU));
    ASSERT_NE(menu, nullptr);
    const std::pair<int, const wchar_t*> items[] = {
        {101, L"自分側：再フォルダ指定(&D)"}, {102, L"自分側：ルートフォルダ指定(&C)"},
        {103, L"相手側：再フォルダ指定(&R)"}, {104, L"相手側：ルートフォルダ指定(&L)"},
        {105, L"複写→相手側へ(&S)"},           {106, L"複写←相手側から(&R)"},
        {107, L"自分フォルダ作成(&F)"},         {108, L"相手フォルダ作成(&T)"},
        {109, L"接続設定(&K)"},                 {110, L"接続開始(&S)"},
        {111, L"接続終了(&P)"},                 {112, L"HostName(&H)"},
        {113, L"受信内容(&R)"},                 {114, L"送信内容(&R)"},
        {115, L"DIR-TBL(&D)"},                  {116, L"環境設定(&K)"},
        {117, L"ドキメント(&D)"},               {119, L"バージョン(&V)"},
        {120, L"終了(&X)"},
    };
    for (auto& [id, text] : items) {
        wchar_t buf[128] = {};
        GetMenuStringW(menu, id, buf, ARRAYSIZE(buf), MF_BYCOMMAND);
        EXPECT_STREQ(buf, text) << id;
    }
    wchar_t buf[128] = {};
    EXPECT_EQ(GetMenuStringW(menu, 118, buf, ARRAYSIZE(buf), MF_BYCOMMAND), 0);
    const wchar_t* popups[] = {L"ファイル(&F)", L"複写(&C)", L"接続(&C)", L"その他(&H)", L"終了(&X)"};
    ASSERT_EQ(GetMenuItemCount(menu), 5);
    for (int i = 0; i < 5; ++i) {
        GetMenuStringW(menu, i, buf, ARRAYSIZE(buf), MF_BYPOSITION);
        EXPECT_STREQ(buf, popups[i]);
    }
    DestroyMenu(menu);
}

TEST_F(MainWindowTest, OpensCentredWithTheFixedSize) {
    HDC screen = GetDC(nullptr);
    int w = GetDeviceCaps(screen, HORZRES), h = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, (w - 1060) / 2);
    EXPECT_EQ(r.top, (h - 750) / 2);
    EXPECT_EQ(r.right - r.left, 1060);
    EXPECT_EQ(r.bottom - r.top, 720);
    if (w == 1920 && h == 1080) {
        EXPECT_EQ(r.left, 430);
        EXPECT_EQ(r.top, 165);
    }
    EXPECT_EQ(TextOf(window), L"Quorbel");
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    EXPECT_STREQ(cls, L"Main Window");
}

TEST_F(MainWindowTest, LaysOutPanesAndHeadersForTheClientSize) {
    LayoutMainChildren(1000, 600);
    RECT left = ChildRect(window, IDC_LEFT_PANE), right = ChildRect(window, IDC_RIGHT_PANE);
    EXPECT_EQ(left.left, 0);
    EXPECT_EQ(left.top, 40);
    EXPECT_EQ(left.right - left.left, 500);
    EXPECT_EQ(left.bottom - left.top, 530);
    EXPECT_EQ(right.left, 500);
    EXPECT_EQ(right.right - right.left, 500);
    RECT host = ChildRect(window, IDC_HOST_HEADER), conn = ChildRect(window, IDC_CONN_HEADER);
    RECT local = ChildRect(window, IDC_LOCAL_HEADER), remote = ChildRect(window, IDC_REMOTE_HEADER);
    EXPECT_EQ(host.left, 0);
    EXPECT_EQ(host.right - host.left, 499);
    EXPECT_EQ(local.top, 20);
    EXPECT_EQ(local.right - local.left, 499);
    EXPECT_EQ(conn.left, 501);
    EXPECT_EQ(remote.left, 501);
    EXPECT_EQ(remote.top, 20);
    EXPECT_EQ(conn.right - conn.left, 1000);
}

TEST_F(MainWindowTest, ChildWindowsHaveTheirClassesColumnsAndTexts) {
    HWND pane = GetDlgItem(window, IDC_LEFT_PANE);
    ASSERT_NE(pane, nullptr);
    DWORD ex = static_cast<DWORD>(SendMessageW(pane, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(ex & LVS_EX_GRIDLINES);
    EXPECT_TRUE(ex & LVS_EX_FULLROWSELECT);
    const wchar_t* titles[] = {L"ファイル名", L"更新日", L"サイズ"};
    const int widths[] = {280, 120, 80};
    for (int i = 0; i < 3; ++i) {
        wchar_t buf[64] = {};
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = buf;
        col.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(pane, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col)));
        EXPECT_STREQ(buf, titles[i]);
        EXPECT_EQ(col.cx, widths[i]);
    }
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(pane, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(images), 10);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(images, &cx, &cy);
    EXPECT_EQ(cx, 12);
    EXPECT_EQ(cy, 12);
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_CONN_HEADER)), L"CLOSE<192,168,1,1>:");
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_LOCAL_HEADER)), folder.path());
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_REMOTE_HEADER)), L"C:\\");
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_HOST_HEADER)).substr(0, 1), L"<");
}

TEST_F(MainWindowTest, StatusBarFollowsEveryConnectionState) {
    struct Case {
        int server, open, peer;
        const wchar_t* text;
        COLORREF colour;
    };
    g_shell.clientSocketNumber = 284;
    g_shell.activeSlotNumber = 1;
    const Case cases[] = {
        {0, 1, 0, L"Connecting:284", RGB(0, 250, 0)},   {0, 0, 0, L"Disconnect", RGB(255, 255, 255)},
        {1, 1, 1, L"Connecting:1", RGB(146, 208, 80)},  {1, 1, 0, L"Openting", RGB(93, 209, 255)},
        {1, 0, 0, L"Disconnect", RGB(255, 255, 255)},
    };
    for (const Case& c : cases) {
        g_shell.serverMode = c.server;
        g_shell.connectionOpen = c.open;
        g_shell.peerPresent = c.peer;
        ConnectionStatus status = CurrentConnectionStatus();
        EXPECT_STREQ(status.text, c.text);
        EXPECT_EQ(status.colour, c.colour) << Narrow(c.text);
        RefreshStatusBar();
        EXPECT_EQ(StatusPart(0), L"Quorbel");
        EXPECT_EQ(StatusPart(1), c.server ? L"Server" : L"Client");
        EXPECT_EQ(StatusPart(2), c.text);
        EXPECT_EQ(StatusPart(3), L"Waiting");
        EXPECT_EQ(StatusPart(4), L" ");
        EXPECT_EQ(StatusPart(5), L"by Wendlehart");
    }
    int edges[6] = {};
    ASSERT_EQ(SendMessageW(g_shell.statusBar, SB_GETPARTS, 6, reinterpret_cast<LPARAM>(edges)), 6);
    EXPECT_EQ(edges[0], 90);
    EXPECT_EQ(edges[4], 850);
    EXPECT_EQ(edges[5], -1);
    SetOperationState(6);
    RefreshStatusBar();
    EXPECT_EQ(StatusPart(3), L"RequestCopyFrom");
    SetOperationState(0);
}

TEST_F(MainWindowTest, StatusBarPaintsTheStateColour) {
    g_shell.serverMode = 1;
    g_shell.connectionOpen = 1;
    g_shell.peerPresent = 0;
    RefreshStatusBar();
    InvalidateRect(g_shell.statusBar, nullptr, TRUE);
    UpdateWindow(g_shell.statusBar);
    Pump(100);
    RECT r;
    GetClientRect(g_shell.statusBar, &r);
    HDC dc = GetDC(g_shell.statusBar);
    // Sample inside part 4 (the blank part), away from texts and edges.
    COLORREF pixel = GetPixel(dc, 600, (r.bottom - r.top) / 2);
    ReleaseDC(g_shell.statusBar, dc);
    EXPECT_EQ(pixel, RGB(93, 209, 255));
}

TEST_F(MainWindowTest, ExitWithoutConnectionDestroysAtOnce) {
    RequestExit(window);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(MainWindowTest, ExitAsConnectedClientAsksOnceThenClosesAndDestroys) {
    g_shell.serverMode = 0;
    g_shell.connectionOpen = 1;
    RequestExit(window);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"アクセス中です\r\n強制切断しますか");
    EXPECT_EQ(boxes.last().caption, L"切断");
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 5000));
    EXPECT_EQ(g_shell.connectionOpen, 0);
}

TEST_F(MainWindowTest, ExitAnsweredNoKeepsEverything) {
    g_shell.serverMode = 1;
    g_shell.connectionOpen = 1;
    g_shell.peerPresent = 1;
    boxes.Answer(IDYES);
    boxes.Answer(IDNO);
    RequestExit(window);
    auto all = boxes.boxes();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].text, L"接続相手が存在します\r\n強制切断しますか");
    EXPECT_EQ(all[1].text, L"アクセス中です\r\n強制切断しますか");
    Pump(1500);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(g_shell.connectionOpen, 1);
}

TEST(FirstStart, ConsentThenRegistrationWritesTheSettings) {
    TempFolder folder;
    BoxRecorder boxes;
    HWND window = nullptr;
    std::wstring title;
    DriveModal([&] { window = CreateMainWindowIn(folder.path()); return INT_PTR(0); },
               [&](HWND dialog) {
                   title = TextOf(dialog);
                   SetDlgItemTextW(dialog, IDC_EDIT_240, L"alice");
                   SetDlgItemTextW(dialog, IDC_EDIT_241, L"secret");
                   Click(dialog, IDC_BUTTON_201);
               });
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().caption, L"同意確認");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(title, L"初期設定のお願い");
    const std::wstring ini = folder.file(L"Quorbel.ini");
    EXPECT_EQ(IniValue(ini, L"doui_mode"), L"1");
    std::wstring id, pw;
    ASSERT_TRUE(UnprotectCredential(IniValue(ini, L"dipa"), id));
    ASSERT_TRUE(UnprotectCredential(IniValue(ini, L"wppa"), pw));
    EXPECT_EQ(id, L"alice");
    EXPECT_EQ(pw, L"secret");
    DestroyMainWindow(window);
}

TEST(FirstStart, RefusedConsentEndsAndIsAskedAgainNextTime) {
    TempFolder folder;
    BoxRecorder boxes;
    boxes.Answer(IDNO);
    HWND window = CreateMainWindowIn(folder.path());
    EXPECT_TRUE(window == nullptr || !IsWindow(window));
    auto all = boxes.boxes();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].caption, L"同意確認");
    EXPECT_EQ(all[1].text, L"同意がないので終了します");
    EXPECT_EQ(all[1].caption, L"非同意確認");
    EXPECT_EQ(IniValue(folder.file(L"Quorbel.ini"), L"doui_mode"), L"0");
    DestroyMainWindow(window);

    boxes.clear();
    boxes.Answer(IDNO);
    window = CreateMainWindowIn(folder.path());
    EXPECT_EQ(boxes.boxes().at(0).caption, L"同意確認");
    DestroyMainWindow(window);
}

TEST(Settings, RoundTripKeepsEveryValue) {
    TempFolder folder;
    ResetShellState();
    CopyText(g_shell.startupFolder, folder.path().c_str());
    LoadSettings();
    EXPECT_STREQ(g_shell.localPath, L"C:\\");
    EXPECT_STREQ(g_shell.remotePath, L"C:\\");
    EXPECT_EQ(g_settings.port, 1050);
    EXPECT_EQ(g_settings.consent, 0);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(std::wstring(g_shell.storedId), L"QB" + std::to_wstring(now.wYear));

    CopyText(g_shell.localPath, L"C:\\data");
    CopyText(g_shell.remotePath, L"D:\\elsewhere");
    g_shell.serverMode = 1;
    g_settings.port = 2222;
    const int32_t octets[4] = {10, 0, 0, 7};
    for (int i = 0; i < 4; ++i) g_settings.targetAddress[i] = octets[i];
    g_settings.usePcName = 1;
    CopyText(g_settings.pcNames[0], L"first");
    CopyText(g_settings.pcNames[1], std::wstring(300, L'x').c_str());  // cut to 255 by the buffer
    CopyText(g_settings.pcNames[2], L"third");
    g_settings.companionLaunch = 1;
    CopyText(g_shell.storedId, L"id-\u65e5\u672c");
    CopyText(g_shell.storedPw, L"");
    g_settings.consent = 1;
    SetMonitorRecording(1);
    SaveSettings();

    const std::wstring ini = folder.file(L"Quorbel.ini");
    EXPECT_EQ(IniValue(ini, L"currentdirectory_w"), L"D:\\elsewhere");
    ResetShellState();
    SetMonitorRecording(0);
    CopyText(g_shell.startupFolder, folder.path().c_str());
    LoadSettings();
    EXPECT_STREQ(g_shell.localPath, L"C:\\data");
    EXPECT_STREQ(g_shell.remotePath, L"C:\\");  // never read back
    EXPECT_EQ(g_shell.serverMode, 1);
    EXPECT_EQ(g_settings.port, 2222);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(g_settings.targetAddress[i], octets[i]);
    EXPECT_EQ(g_settings.usePcName, 1);
    EXPECT_STREQ(g_settings.pcNames[0], L"first");
    EXPECT_EQ(std::wstring(g_settings.pcNames[1]), std::wstring(255, L'x'));
    EXPECT_STREQ(g_settings.pcNames[2], L"third");
    EXPECT_STREQ(g_settings.pcNames[3], L"");
    EXPECT_EQ(g_settings.companionLaunch, 1);
    EXPECT_EQ(MonitorRecording(), 1);
    EXPECT_STREQ(g_shell.storedId, L"id-\u65e5\u672c");
    EXPECT_STREQ(g_shell.storedPw, L"");
    EXPECT_EQ(g_settings.consent, 1);
    SetMonitorRecording(0);
}

TEST(Settings, OverlongPcNameInTheFileIsCutWithoutDisturbingItsNeighbours) {
    TempFolder folder;
    std::string lines = "[Quorbel_setting]\r\npc_name=1\r\npc_name_wcs[0].pn=" + std::string(300, 'n') +
                        "\r\npc_name_wcs[1].pn=next\r\n";
    folder.write(L"Quorbel.ini", lines);
    ResetShellState();
    CopyText(g_shell.startupFolder, folder.path().c_str());
    LoadSettings();
    EXPECT_EQ(std::wstring(g_settings.pcNames[0]), std::wstring(255, L'n'));
    EXPECT_STREQ(g_settings.pcNames[1], L"next");
    EXPECT_EQ(g_settings.usePcName, 1);
}

TEST(Settings, ProtectedValuesChangeAtEverySaveAndStayOneLine) {
    TempFolder folder;
    ResetShellState();
    CopyText(g_shell.startupFolder, folder.path().c_str());
    CopyText(g_shell.storedId, std::wstring(127, L'i').c_str());
    CopyText(g_shell.storedPw, L"pw");
    const std::wstring ini = folder.file(L"Quorbel.ini");
    SaveSettings();
    std::wstring first = IniValue(ini, L"dipa");
    SaveSettings();
    std::wstring second = IniValue(ini, L"dipa");
    EXPECT_NE(first, second);
    EXPECT_FALSE(first.empty());
    for (const std::wstring& v : {first, second, IniValue(ini, L"wppa")})
        EXPECT_EQ(v.find_first_of(L"\r\n"), std::wstring::npos);
    std::wstring plain;
    ASSERT_TRUE(UnprotectCredential(first, plain));
    EXPECT_EQ(plain, std::wstring(127, L'i'));
    EXPECT_EQ(ReadFileBytes(ini).find("dipa=" + Narrow(second) + "\r\n") != std::string::npos, true);
}

TEST(Settings, DamagedProtectedValueLeavesTheIdEmpty) {
    TempFolder folder;
    folder.write(L"Quorbel.ini", "[Quorbel_setting]\r\ndipa=AAAA!!not-base64\r\nwppa=QUJD\r\n");
    ResetShellState();
    CopyText(g_shell.startupFolder, folder.path().c_str());
    LoadSettings();
    EXPECT_STREQ(g_shell.storedId, L"");
    EXPECT_STREQ(g_shell.storedPw, L"");  // valid Base64, but no protected blob
}

TEST(Credentials, EmptyTextAndDamagedTexts) {
    std::wstring text = ProtectCredential(L"");
    EXPECT_FALSE(text.empty());
    std::wstring plain = L"keep";
    ASSERT_TRUE(UnprotectCredential(text, plain));
    EXPECT_EQ(plain, L"");
    plain = L"keep";
    EXPECT_FALSE(UnprotectCredential(L"@@@@", plain));
    EXPECT_FALSE(UnprotectCredential(L"", plain));
    std::wstring whole = ProtectCredential(L"abc");
    std::wstring damaged = whole.substr(0, (whole.size() / 2) & ~size_t(3));  // a cut blob
    EXPECT_FALSE(UnprotectCredential(damaged, plain));
    EXPECT_EQ(plain, L"keep");
}

TEST(IdPwDialog, ModesFillAndStoreTheirOwnPair) {
    ResetShellState();
    g_shell.instance = GetModuleHandleW(nullptr);
    CopyText(g_shell.storedId, L"sid");
    CopyText(g_shell.storedPw, L"spw");
    struct Seen {
        std::wstring title, text, id, pw;
    } seen;
    auto look = [&](HWND d) {
        seen = {TextOf(d), ControlText(d, IDC_STATIC_501), ControlText(d, IDC_EDIT_240), ControlText(d, IDC_EDIT_241)};
    };

    INT_PTR r = DriveModal([] { return RunIdPwDialog(nullptr, kIdPwLogin); },
                           [&](HWND d) {
                               look(d);
                               SetDlgItemTextW(d, IDC_EDIT_240, L"typed");
                               SetDlgItemTextW(d, IDC_EDIT_241, std::wstring(130, L'p').c_str());
                               Click(d, IDC_BUTTON_201);
                           });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(seen.title, L"Login操作画面");
    EXPECT_EQ(seen.text, L"IDとPWでログインして下さい。");
    EXPECT_EQ(seen.id, L"");
    EXPECT_EQ(seen.pw, L"");
    EXPECT_STREQ(g_shell.loginId, L"typed");
    EXPECT_EQ(std::wstring(g_shell.loginPw), std::wstring(125, L'p'));
    EXPECT_STREQ(g_shell.storedId, L"sid");

    r = DriveModal([] { return RunIdPwDialog(nullptr, kIdPwRegistration); },
                   [&](HWND d) {
                       look(d);
                       SetDlgItemTextW(d, IDC_EDIT_241, L"newpw");
                       Click(d, IDC_BUTTON_201);
                   });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(seen.title, L"ID&PWの登録画面");
    EXPECT_EQ(seen.text, L"IDとPWの登録をお願います。");
    EXPECT_EQ(seen.id, L"sid");
    EXPECT_EQ(seen.pw, L"spw");
    EXPECT_STREQ(g_shell.storedPw, L"newpw");

    // Closed without OK: nothing stored; Escape does not close it.
    r = DriveModal([] { return RunIdPwDialog(nullptr, kIdPwRegistration); },
                   [&](HWND d) {
                       SetDlgItemTextW(d, IDC_EDIT_240, L"ignored");
                       SendMessageW(d, WM_COMMAND, IDCANCEL, 0);
                       EXPECT_TRUE(IsWindowVisible(d));
                       SendMessageW(d, WM_CLOSE, 0, 0);
                   });
    EXPECT_EQ(r, 1);
    EXPECT_STREQ(g_shell.storedId, L"sid");
}

TEST(IdPwDialog, TopRightClickRevealsTheStoredPairEvenInLoginMode) {
    ResetShellState();
    g_shell.instance = GetModuleHandleW(nullptr);
    CopyText(g_shell.storedId, L"sid");
    CopyText(g_shell.storedPw, L"spw");
    std::wstring before, after, elsewhere;
    DriveModal([] { return RunIdPwDialog(nullptr, kIdPwLogin); },
               [&](HWND d) {
                   before = ControlText(d, IDC_EDIT_240);
                   SendMessageW(d, WM_LBUTTONDOWN, 0, MAKELPARAM(100, 5));
                   elsewhere = ControlText(d, IDC_EDIT_240);
                   SendMessageW(d, WM_LBUTTONDOWN, 0, MAKELPARAM(311, 9));
                   after = ControlText(d, IDC_EDIT_240) + L"/" + ControlText(d, IDC_EDIT_241);
                   SendMessageW(d, WM_CLOSE, 0, 0);
               });
    EXPECT_EQ(before, L"");
    EXPECT_EQ(elsewhere, L"");
    EXPECT_EQ(after, L"sid/spw");
}

TEST_F(MainWindowTest, Screenshot) {
    g_shell.serverMode = 1;
    g_shell.connectionOpen = 1;
    RefreshStatusBar();
    SaveScreenshot(window, L"main_window");
    g_shell.connectionOpen = 0;
}

TEST(IdPwDialog, Screenshot) {
    ResetShellState();
    g_shell.instance = GetModuleHandleW(nullptr);
    CopyText(g_shell.storedId, L"QB2026");
    CopyText(g_shell.storedPw, L"PW1206");
    DriveModal([] { return RunIdPwDialog(nullptr, kIdPwFirstRegistration); },
               [](HWND d) {
                   SaveScreenshot(d, L"idpw_dialog");
                   SendMessageW(d, WM_CLOSE, 0, 0);
               });
}
