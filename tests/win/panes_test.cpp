// The panes of the real main window: what a listing shows, sorting, double-clicks, the copy batch.
#include <gtest/gtest.h>

#include "support.h"
#include "win/base/win_files.h"

using namespace quorbel::texts;

class Panes : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryW((folder.path + L"\\資料").c_str(), nullptr);
        WriteBytes(folder.path + L"\\空", "");
        WriteBytes(folder.path + L"\\報告.txt", std::string(12345, 'x'));
        SYSTEMTIME local = {2024, 3, 2, 5, 9, 7, 0, 0};  // its last write, local time
        FILETIME localTime, utc;
        SystemTimeToFileTime(&local, &localTime), LocalFileTimeToFileTime(&localTime, &utc);
        HANDLE file =
            CreateFileW((folder.path + L"\\報告.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, 0, OPEN_EXISTING, 0, 0);
        SetFileTime(file, nullptr, nullptr, &utc), CloseHandle(file);
        written = FileTimeValue(utc);
        app = OpenMainWindow(folder.path);
    }
    void DoubleClick(HWND list, const std::wstring& name) {
        SelectRows(list, {RowOf(list, name)});
        Notify(*app, list == app->left.list ? IDC_LEFT_PANE : IDC_RIGHT_PANE, NM_DBLCLK);
    }
    Folder folder{L"qb_panes"};
    uint64_t written = 0;
    Boxes boxes;
    std::shared_ptr<App> app;
};

TEST_F(Panes, TheLeftPaneShowsTheFolderInFileSystemOrderAndTheDrivesAtARoot) {
    std::vector<std::wstring> order;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder.path + L"\\*").c_str(), &found);
    for (bool more = true; more; more = FindNextFileW(search, &found)) order.push_back(found.cFileName);
    FindClose(search);
    ASSERT_EQ(Names(app->left.list), order);
    const auto rows = Rows(app->left.list);
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].param, static_cast<LPARAM>(i));
    auto shown = [&](const wchar_t* name) {
        const Row& r = rows[RowOf(app->left.list, name)];
        return std::to_wstring(r.image) + L"|" + r.size + L"|" + (r.name == L"報告.txt" ? r.date : L"");
    };
    EXPECT_EQ(shown(L"..") + L" " + shown(L"資料") + L" " + shown(L"空"), L"0|| 1|| 8|0|");
    EXPECT_EQ(shown(L"報告.txt"), L"8|12K|2024/03/05 09:07");
    // Behind the texts, the size in bytes and the time in full (UTC), as an exact listing sends them.
    quorbel::PaneRow exact;
    WinFolderSource source;
    quorbel::CollectFolderRows(source, AsU16View(folder.path), [&](auto& r) {
        if (r.name == u"報告.txt") exact = r;
        return true;
    });
    EXPECT_TRUE(exact.exact && exact.bytes == 12345u && exact.lastWriteTime == written);

    SendMessageW(app->window, WM_COMMAND, IDM_LOCAL_ROOT, 0);  // the other drives first; Wine's z: is a fixed disk
    const int z = RowOf(app->left.list, L"z:\\");
    const Row drive = Rows(app->left.list).at(z);  // throws, and fails the test, when there is no such row
    EXPECT_EQ(drive.date + drive.size + std::to_wstring(drive.image), L"2");
    EXPECT_LT(z, RowOf(app->left.list, L"windows"));
    EXPECT_EQ(RowOf(app->left.list, L"c:\\"), -1);  // not the root's own drive
}

TEST_F(Panes, EachPaneKeepsItsOwnSortDirectionsAndTheImagesOutliveAPane) {
    const char16_t* remote[3][2] = {{u"b", u"9"}, {u"a", u"100"}, {u"c", u"10K"}};
    for (int i = 0; i < 3; ++i) app->AddRemoteRow({remote[i][0], u"", remote[i][1], 9}, i);
    Notify(*app, IDC_RIGHT_PANE, LVN_COLUMNCLICK, 0);  // names start descending
    EXPECT_EQ(Names(app->right.list), (std::vector<std::wstring>{L"c", L"b", L"a"}));
    Notify(*app, IDC_RIGHT_PANE, LVN_COLUMNCLICK, 2);  // sizes sort as text
    EXPECT_EQ(Names(app->right.list), (std::vector<std::wstring>{L"a", L"c", L"b"}));
    Notify(*app, IDC_LEFT_PANE, LVN_COLUMNCLICK, 0);  // as if the right pane had never sorted
    const auto left = Names(app->left.list);
    EXPECT_EQ(left.front() + left.back(), L"資料.");
    DestroyWindow(app->right.list);  // the panes share the image list; the window alone destroys it
    app->right.list = nullptr;
    EXPECT_EQ(ImageList_GetImageCount(app->paneImages), 10);
}

TEST_F(Panes, DoubleClicksEnterFoldersGoUpAndWarnOnFiles) {
    DoubleClick(app->left.list, L"資料");
    EXPECT_EQ(Text(app->localHeader), folder.path + L"\\資料");
    EXPECT_EQ(Names(app->left.list), (std::vector<std::wstring>{L".", L".."}));
    DoubleClick(app->left.list, L"..");
    EXPECT_EQ(Text(app->localHeader), folder.path);
    DoubleClick(app->left.list, L"報告.txt");
    ASSERT_EQ(boxes.All().size(), 1u);
    EXPECT_EQ(boxes.all[0].text, AsWide(kNotAFolder.text));
    EXPECT_EQ(Text(app->localHeader), folder.path);
    EXPECT_EQ(Rows(app->left.list).size(), 6u);
}

// The keys a file manager's user reaches for, through the list's own
// notifications: Enter opens the focused row, BackSpace goes up, F5 lists
// again; the peer's pane asks nothing while no peer is connected.
TEST_F(Panes, EnterBackSpaceAndF5DoWhatTheMouseAndTheMenusDo) {
    LVITEMW focus = {};
    focus.stateMask = focus.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(app->left.list, LVM_SETITEMSTATE, RowOf(app->left.list, L"資料"), reinterpret_cast<LPARAM>(&focus));
    SendMessageW(app->left.list, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(Text(app->localHeader), folder.path + L"\\資料");
    SendMessageW(app->left.list, WM_KEYDOWN, VK_BACK, 0);
    EXPECT_EQ(Text(app->localHeader), folder.path);
    WriteBytes(folder.path + L"\\新", "");
    SendMessageW(app->left.list, WM_KEYDOWN, VK_F5, 0);
    EXPECT_EQ(Rows(app->left.list).size(), 7u);
    for (WPARAM key : {VK_F5, VK_BACK}) SendMessageW(app->right.list, WM_KEYDOWN, key, 0);
    EXPECT_TRUE(boxes.All().empty() && app->protocol().IsWaiting());
    // A manual that does not open (none in this folder) is said so, not passed over.
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    SetCurrentDirectoryW(folder.path.c_str());
    SendMessageW(app->window, WM_COMMAND, IDM_DOCUMENT, 0);
    SetCurrentDirectoryW(before);
    ASSERT_EQ(boxes.All().size(), 1u);
    EXPECT_EQ(boxes.all[0].caption, AsWide(kDocumentNotOpened.caption));
}

TEST_F(Panes, BrowsingThePeerPastThePathLimitIsRefusedBeforeAnythingChanges) {
    const quorbel::u16 deep = u"C:\\" + quorbel::u16(125, u'あ');  // 128 characters, 253 bytes on the wire
    app->protocol().SetRemoteFolderPath(deep);
    SetWindowTextW(app->remoteHeader, AsWide(deep.c_str()));
    app->AddRemoteRow({u"いいい", u"", u"", 1}, 0);  // joined: 260 bytes
    DoubleClick(app->right.list, L"いいい");
    ASSERT_EQ(boxes.All().size(), 1u);
    EXPECT_EQ(boxes.all[0].text, AsWide(kMovePathTooLong.text));
    EXPECT_EQ(Rows(app->right.list).size(), 1u);
    EXPECT_EQ(Text(app->remoteHeader), AsWide(deep.c_str()));
    EXPECT_EQ(app->protocol().RemoteFolderPath(), deep);
    EXPECT_TRUE(app->protocol().IsWaiting()) << "a listing was asked for";
}

TEST_F(Panes, TheCopyDialogIgnoresEscapeAndARequestThatCannotBeSentEndsTheBatchWithOneBox) {
    // Not connected: the first request cannot go out.
    SelectRows(app->left.list, {RowOf(app->left.list, L"報告.txt")});
    std::wstring seen;
    DriveDialogs([&] { SendMessageW(app->window, WM_COMMAND, IDM_COPY_TO, 0); }, [&](HWND dialog, int) {
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // Escape
        seen += IsWindowVisible(dialog) ? L"open;" : L"gone;";
        Click(dialog, IDC_COPY_START);
    });
    EXPECT_EQ(seen, L"open;");
    ASSERT_EQ(boxes.All().size(), 1u) << "a listing was asked for afterwards";
    EXPECT_EQ(boxes.all[0].caption, AsWide(kSendFailed.caption));
    EXPECT_TRUE(app->protocol().IsWaiting());
    // A batch (files first): the one box, and a summary that names what did not go.
    SelectRows(app->left.list, {RowOf(app->left.list, L"空"), RowOf(app->left.list, L"報告.txt")});
    DriveDialogs([&] { SendMessageW(app->window, WM_COMMAND, IDM_COPY_TO, 0); }, [&](HWND dialog, int) {
        PumpUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_TRANSFER_CLOSE)) != FALSE; });
        seen = Text(GetDlgItem(dialog, IDC_TRANSFER_SUMMARY));
        Click(dialog, IDC_TRANSFER_CLOSE);
    });
    EXPECT_EQ(seen, L"複写 0 件　スキップ 1 件　失敗 1 件\r\n失敗:\r\n報告.txt（接続が切れました）\r\nスキップ:\r\n空（停止しました）");
    EXPECT_EQ(boxes.All().size(), 2u);
}

TEST_F(Panes, ACopyFromThePeerRefusesANameThatWouldNotStayInThisFolder) {
    app->AddRemoteRow({u"..\\..\\x.exe", u"", u"5", 9}, 0);
    SelectRows(app->right.list, {0});
    DriveDialogs([&] { SendMessageW(app->window, WM_COMMAND, IDM_COPY_FROM, 0); }, [](HWND, int) { FAIL(); });
    EXPECT_EQ(boxes.All().at(0).text, ToWide(quorbel::FormatText(kCopyPeerNameRefused.text, {u"..\\..\\x.exe"})));
}
