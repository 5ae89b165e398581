// The two panes driven in-process: the local listing, the column sort, the
// double-click navigation, the pane commands, the paste name and the menu
// enabling, on the real main window.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/wintext.h"
#include "net/net.h"
#include "panes/panes.h"
#include "res/resource.h"
#include "win_test_support.h"

using namespace testing_support;

namespace {

struct Row {
    std::wstring name, date, size;
    int image;
    LPARAM param;
};

std::wstring CellText(HWND pane, int row, int column) {
    wchar_t buf[300] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = ARRAYSIZE(buf);
    SendMessageW(pane, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buf;
}

std::vector<Row> Rows(HWND pane) {
    std::vector<Row> rows;
    int n = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE | LVIF_PARAM;
        item.iItem = i;
        SendMessageW(pane, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back({CellText(pane, i, 0), CellText(pane, i, 1), CellText(pane, i, 2), item.iImage, item.lParam});
    }
    return rows;
}

std::vector<std::wstring> Names(HWND pane) {
    std::vector<std::wstring> names;
    for (const Row& r : Rows(pane)) names.push_back(r.name);
    return names;
}

const Row* FindRow(const std::vector<Row>& rows, const std::wstring& name) {
    for (const Row& r : rows)
        if (r.name == name) return &r;
    return nullptr;
}

int RowIndex(HWND pane, const std::wstring& name) {
    std::vector<std::wstring> names = Names(pane);
    auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

// The entries of a folder in the order the file system gives them.
std::vector<std::wstring> FileSystemOrder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::wstring pattern = folder + (folder.back() == L'\\' ? L"*" : L"\\*");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

void SelectOnly(HWND pane, int row) {
    LVITEMW clear = {};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(pane, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    if (row < 0) return;
    LVITEMW set = {};
    set.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    set.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(pane, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&set));
}

void Notify(HWND window, int paneId, UINT code, int column = 0) {
    NMLISTVIEW nm = {};
    nm.hdr.hwndFrom = GetDlgItem(window, paneId);
    nm.hdr.idFrom = static_cast<UINT_PTR>(paneId);
    nm.hdr.code = code;
    nm.iItem = -1;
    nm.iSubItem = column;
    SendMessageW(window, WM_NOTIFY, static_cast<WPARAM>(paneId), reinterpret_cast<LPARAM>(&nm));
}

void Command(HWND window, int id) { SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void InsertRemoteRow(const std::wstring& name, const std::wstring& date, const std::wstring& size, int image,
                     LPARAM param) {
    HWND pane = g_shell.rightPane;
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(name.c_str());
    item.iImage = image;
    item.lParam = param;
    int row = static_cast<int>(SendMessageW(pane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW sub = {};
    sub.iSubItem = 1;
    sub.pszText = const_cast<wchar_t*>(date.c_str());
    SendMessageW(pane, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
    sub.iSubItem = 2;
    sub.pszText = const_cast<wchar_t*>(size.c_str());
    SendMessageW(pane, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
}

std::wstring StatusPart(int part) {
    wchar_t buf[256] = {};
    SendMessageW(g_shell.statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(buf));
    return buf;
}

bool IsDateText(const std::wstring& text) {
    // 2024/03/05 09:07
    if (text.size() != 16) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        bool ok = (i == 4 || i == 7) ? c == L'/' : i == 10 ? c == L' ' : i == 13 ? c == L':' : iswdigit(c) != 0;
        if (!ok) return false;
    }
    return true;
}

class PaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetOperationState(0);
        WriteConsentedSettings(home.path());
        window = CreateMainWindowIn(home.path());
        ASSERT_NE(window, nullptr);
        left = g_shell.leftPane;
        right = g_shell.rightPane;
    }
    void TearDown() override {
        SetOperationState(0);
        g_shell.connectionOpen = 0;
        SetMonitorRecording(0);
        DestroyMainWindow(window);
    }
    void ListIn(const std::wstring& path) {
        CopyText(g_shell.localPath, path.c_str());
        ListLocalFolder(window);
    }
    void DoubleClick(int paneId, const std::wstring& name) {
        HWND pane = GetDlgItem(window, paneId);
        int row = RowIndex(pane, name);
        ASSERT_GE(row, 0) << Narrow(name);
        SelectOnly(pane, row);
        Notify(window, paneId, NM_DBLCLK);
    }
    std::wstring LocalHeader() { return TextOf(GetDlgItem(window, IDC_LOCAL_HEADER)); }
    std::wstring RemoteHeader() { return TextOf(GetDlgItem(window, IDC_REMOTE_HEADER)); }

    TempFolder home, data;
    BoxRecorder boxes;
    HWND window = nullptr, left = nullptr, right = nullptr;
};

}  // namespace

TEST_F(PaneTest, ListsEveryEntryInFileSystemOrderWithTextsImagesAndParameters) {
    CreateDirectoryW(data.file(L"sub").c_str(), nullptr);
    CreateDirectoryW(data.file(L"hid").c_str(), nullptr);
    ASSERT_TRUE(SetFileAttributesW(data.file(L"hid").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(GetFileAttributesW(data.file(L"hid").c_str()), 18u);
    data.write(L"zero.bin", "");
    data.write(L"ten.bin", std::string(10240, 'x'));
    data.write(L"\u65e5\u672c\u8a9e.txt", "abc");
    data.write(L"plain", "12345");
    ASSERT_TRUE(SetFileAttributesW(data.file(L"plain").c_str(), FILE_ATTRIBUTE_NORMAL));
    // Wine keeps the archive bit on every file; Windows clears it here.
    const int plainImage = (GetFileAttributesW(data.file(L"plain").c_str()) & FILE_ATTRIBUTE_ARCHIVE) ? 8 : 9;
    ASSERT_TRUE(SetFixedFileTime(data.file(L"ten.bin"), 2024, 3, 5, 9, 7));

    ListIn(data.path());

    std::vector<Row> rows = Rows(left);
    std::vector<std::wstring> expected = FileSystemOrder(data.path());
    ASSERT_EQ(Names(left), expected);
    ASSERT_EQ(rows.size(), 8u);  // ".", ".." and the six entries
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].param, static_cast<LPARAM>(i)) << Narrow(rows[i].name);
        EXPECT_TRUE(IsDateText(rows[i].date)) << Narrow(rows[i].name) << " " << Narrow(rows[i].date);
    }
    struct Expect {
        const wchar_t* name;
        int image;
        const wchar_t* size;
    };
    const Expect expects[] = {
        {L".", 0, L""},      {L"..", 0, L""},        {L"sub", 1, L""},  {L"hid", 1, L"0"},
        {L"zero.bin", 8, L"0"}, {L"ten.bin", 8, L"10K"}, {L"\u65e5\u672c\u8a9e.txt", 8, L"3"}, {L"plain", plainImage, L"5"},
    };
    for (const Expect& e : expects) {
        const Row* r = FindRow(rows, e.name);
        ASSERT_NE(r, nullptr) << Narrow(e.name);
        EXPECT_EQ(r->image, e.image) << Narrow(e.name);
        EXPECT_EQ(r->size, e.size) << Narrow(e.name);
    }
    EXPECT_EQ(FindRow(rows, L"ten.bin")->date, L"2024/03/05 09:07");
    EXPECT_EQ(LocalHeader(), data.path());

    // Listing again replaces every row.
    DeleteFileW(data.file(L"zero.bin").c_str());
    ListLocalFolder(window);
    EXPECT_EQ(Names(left), FileSystemOrder(data.path()));
    EXPECT_EQ(FindRow(Rows(left), L"zero.bin"), nullptr);
}

TEST_F(PaneTest, DriveRootListsTheOtherDrivesFirstAndItsEntries) {
    // Image of a drive row by drive type.
    auto driveImage = [](UINT type) {
        switch (type) {
            case DRIVE_FIXED: return 2;
            case DRIVE_CDROM: return 3;
            case DRIVE_REMOVABLE: return 4;
            case DRIVE_REMOTE: return 5;
            case DRIVE_RAMDISK: return 6;
            default: return -1;
        }
    };
    auto expectedDrives = [&](wchar_t current) {
        std::vector<std::pair<std::wstring, int>> drives;
        for (wchar_t c = L'a'; c <= L'z'; ++c) {
            const wchar_t root[4] = {c, L':', L'\\', 0};
            int image = driveImage(GetDriveTypeW(root));
            if (image >= 0 && c != current) drives.push_back({root, image});
        }
        return drives;
    };

    for (const wchar_t* root : {L"C:\\", L"c:\\"}) {
        ListIn(root);
        std::vector<Row> rows = Rows(left);
        auto drives = expectedDrives(L'c');
        ASSERT_GE(rows.size(), drives.size());
        for (size_t i = 0; i < drives.size(); ++i) {
            EXPECT_EQ(rows[i].name, drives[i].first);
            EXPECT_EQ(rows[i].image, drives[i].second);
            EXPECT_EQ(rows[i].date, L"");
            EXPECT_EQ(rows[i].size, L"");
            EXPECT_EQ(rows[i].param, static_cast<LPARAM>(i));
        }
        EXPECT_NE(FindRow(rows, L"z:\\"), nullptr);
        EXPECT_EQ(FindRow(rows, L"c:\\"), nullptr);
        EXPECT_EQ(FindRow(rows, L"C:\\"), nullptr);
        std::vector<std::wstring> entries;
        for (size_t i = drives.size(); i < rows.size(); ++i) entries.push_back(rows[i].name);
        EXPECT_EQ(entries, FileSystemOrder(L"C:\\"));
        for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].param, static_cast<LPARAM>(i));
        EXPECT_EQ(LocalHeader(), root);
    }

    // Into a folder of the root: no doubled backslash.
    ListIn(L"C:\\");
    DoubleClick(IDC_LEFT_PANE, L"users");
    EXPECT_STREQ(g_shell.localPath, L"C:\\users");
    EXPECT_EQ(Rows(left).empty(), false);
    DoubleClick(IDC_LEFT_PANE, L"..");
    EXPECT_STREQ(g_shell.localPath, L"C:\\");

    // Across drives: the row's text becomes the path, and the new root lists
    // the drive that was left.
    DoubleClick(IDC_LEFT_PANE, L"z:\\");
    EXPECT_STREQ(g_shell.localPath, L"z:\\");
    std::vector<Row> rows = Rows(left);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].name, L"c:\\");
    EXPECT_EQ(FindRow(rows, L"z:\\"), nullptr);
    EXPECT_EQ(LocalHeader(), L"z:\\");
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(PaneTest, NearTheLengthLimitSizesAndMovesAreBoundedNotOverrun) {
    // A folder of exactly 250 characters (made through the long-path form).
    const std::wstring deep = data.path() + L"\\" + std::wstring(250 - data.path().size() - 1, L'd');
    const std::wstring longForm = L"\\\\?\\" + deep;
    ASSERT_TRUE(CreateDirectoryW(longForm.c_str(), nullptr));
    auto writeLong = [&](const wchar_t* name, const std::string& bytes) {
        HANDLE f = CreateFileW((longForm + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(f);
    };
    writeLong(L"a", "1");            // 252 characters in all: fits
    writeLong(L"abcdefghij", "22");  // 261 characters: does not fit a path buffer

    ListIn(deep);
    std::vector<Row> rows = Rows(left);
    ASSERT_NE(FindRow(rows, L"a"), nullptr);
    ASSERT_NE(FindRow(rows, L"abcdefghij"), nullptr);
    EXPECT_EQ(FindRow(rows, L"a")->size, L"1");
    EXPECT_EQ(FindRow(rows, L"abcdefghij")->size, L"");
    EXPECT_EQ(FindRow(rows, L"abcdefghij")->image, 8);
    EXPECT_TRUE(IsDateText(FindRow(rows, L"abcdefghij")->date));

    // The name has no dot, so it is taken for a folder; the joined path would
    // pass 259 characters and the move is refused.
    std::vector<std::wstring> before = Names(left);
    DoubleClick(IDC_LEFT_PANE, L"abcdefghij");
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().caption, L"フォルダ移行");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(boxes.last().owner, window);
    EXPECT_EQ(std::wstring(g_shell.localPath), deep);
    EXPECT_EQ(Names(left), before);
    EXPECT_EQ(LocalHeader(), deep);

    DeleteFileW((longForm + L"\\abcdefghij").c_str());
    DeleteFileW((longForm + L"\\a").c_str());
    RemoveDirectoryW(longForm.c_str());
}

TEST_F(PaneTest, ColumnSortAlternatesPerPaneAndComparesTexts) {
    data.write(L"nine", std::string(9, 'n'));
    data.write(L"hundred", std::string(100, 'h'));
    data.write(L"tenk", std::string(10240, 't'));
    ASSERT_TRUE(SetFixedFileTime(data.file(L"nine"), 2020, 1, 1, 0, 0));
    ASSERT_TRUE(SetFixedFileTime(data.file(L"tenk"), 2021, 1, 1, 0, 0));
    ASSERT_TRUE(SetFixedFileTime(data.file(L"hundred"), 2022, 1, 1, 0, 0));
    ListIn(data.path());
    const std::vector<std::wstring> fileOrder = FileSystemOrder(data.path());
    ASSERT_EQ(Names(left), fileOrder);

    // Name column: the first click sorts descending.
    Notify(window, IDC_LEFT_PANE, LVN_COLUMNCLICK, 0);
    EXPECT_EQ(g_shell.sortFlags[0][0], 2);
    EXPECT_EQ(Names(left), (std::vector<std::wstring>{L"tenk", L"nine", L"hundred", L"..", L"."}));
    Notify(window, IDC_LEFT_PANE, LVN_COLUMNCLICK, 0);
    EXPECT_EQ(g_shell.sortFlags[0][0], 1);
    EXPECT_EQ(Names(left), (std::vector<std::wstring>{L".", L"..", L"hundred", L"nine", L"tenk"}));

    // Size column: text order, empty first when ascending.
    Notify(window, IDC_LEFT_PANE, LVN_COLUMNCLICK, 2);
    EXPECT_EQ(g_shell.sortFlags[0][2], 1);
    std::vector<Row> rows = Rows(left);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ((std::set<std::wstring>{rows[0].name, rows[1].name}), (std::set<std::wstring>{L".", L".."}));
    EXPECT_EQ(rows[2].size + L"," + rows[3].size + L"," + rows[4].size, L"100,10K,9");
    Notify(window, IDC_LEFT_PANE, LVN_COLUMNCLICK, 2);
    EXPECT_EQ(g_shell.sortFlags[0][2], 2);
    rows = Rows(left);
    EXPECT_EQ(rows[0].size + L"," + rows[1].size + L"," + rows[2].size, L"9,10K,100");

    // Date column: the fixed-width text sorts in time order.
    Notify(window, IDC_LEFT_PANE, LVN_COLUMNCLICK, 1);
    EXPECT_EQ(g_shell.sortFlags[0][1], 1);
    rows = Rows(left);
    EXPECT_EQ(rows[0].name + L"," + rows[1].name + L"," + rows[2].name, L"nine,tenk,hundred");

    // Each row keeps its parameter (the listing position) through the sorts.
    for (const Row& r : rows) {
        ASSERT_GE(r.param, 0);
        ASSERT_LT(r.param, static_cast<LPARAM>(fileOrder.size()));
        EXPECT_EQ(fileOrder[static_cast<size_t>(r.param)], r.name);
    }

    // The right pane has flags of its own.
    EXPECT_EQ(g_shell.sortFlags[1][0], 1);
    EXPECT_EQ(g_shell.sortFlags[1][1], 0);
    EXPECT_EQ(g_shell.sortFlags[1][2], 0);

    // Listing again shows file-system order and keeps the flags.
    ListLocalFolder(window);
    EXPECT_EQ(Names(left), fileOrder);
    EXPECT_EQ(g_shell.sortFlags[0][0], 1);
    EXPECT_EQ(g_shell.sortFlags[0][1], 1);
    EXPECT_EQ(g_shell.sortFlags[0][2], 2);
    Notify(window, IDC_LEFT_PANE, LVN_COLUMNCLICK, 0);
    EXPECT_EQ(g_shell.sortFlags[0][0], 2);
    EXPECT_EQ(Names(left).front(), L"tenk");
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(PaneTest, RightPaneSortsByItsRecordNumbersFoldingOnlyLatinLetters) {
    InsertRemoteRow(L"B", L"2024/01/02 00:00", L"9", 9, 7);
    InsertRemoteRow(L"_", L"2024/01/01 00:00", L"10K", 9, 3);
    InsertRemoteRow(L"a", L"2024/01/03 00:00", L"100", 9, 5);
    Notify(window, IDC_RIGHT_PANE, LVN_COLUMNCLICK, 0);
    EXPECT_EQ(g_shell.sortFlags[1][0], 2);
    EXPECT_EQ(Names(right), (std::vector<std::wstring>{L"B", L"a", L"_"}));
    Notify(window, IDC_RIGHT_PANE, LVN_COLUMNCLICK, 0);
    // "_" (0x5F) sorts before the letters because only A-Z are folded.
    EXPECT_EQ(Names(right), (std::vector<std::wstring>{L"_", L"a", L"B"}));
    std::vector<Row> rows = Rows(right);
    EXPECT_EQ(rows[0].param, 3);
    EXPECT_EQ(rows[1].param, 5);
    EXPECT_EQ(rows[2].param, 7);
    EXPECT_EQ(rows[2].size, L"9");
    Notify(window, IDC_RIGHT_PANE, LVN_COLUMNCLICK, 2);
    EXPECT_EQ(Names(right), (std::vector<std::wstring>{L"a", L"_", L"B"}));
    EXPECT_EQ(g_shell.sortFlags[0][0], 1);
    EXPECT_EQ(g_shell.sortFlags[0][2], 0);
}

TEST_F(PaneTest, RefusedSortShowsItsMessage) {
    // A virtual list view cannot sort its rows.
    HWND virtualPane = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT | LVS_OWNERDATA, 0, 0, 10, 10,
                                       window, nullptr, g_shell.instance, nullptr);
    ASSERT_NE(virtualPane, nullptr);
    HWND saved = g_shell.leftPane;
    g_shell.leftPane = virtualPane;
    SortPane(virtualPane, 1);
    g_shell.leftPane = saved;
    DestroyWindow(virtualPane);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"ソート失敗。");
    EXPECT_EQ(boxes.last().caption, L"Error");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes.last().owner, window);
}

TEST_F(PaneTest, DoubleClicksMoveTheLeftPane) {
    const std::wstring root = data.path();
    CreateDirectoryW(data.file(L"sub").c_str(), nullptr);
    data.write(L"sub\\inner.txt", "x");
    CreateDirectoryW(data.file(L"app.old").c_str(), nullptr);
    data.write(L"report.txt", "r");
    data.write(L"README", "readme");
    ListIn(root);

    DoubleClick(IDC_LEFT_PANE, L"sub");
    EXPECT_EQ(std::wstring(g_shell.localPath), root + L"\\sub");
    EXPECT_EQ(LocalHeader(), root + L"\\sub");
    EXPECT_EQ(Names(left), FileSystemOrder(root + L"\\sub"));
    EXPECT_GE(RowIndex(left, L"inner.txt"), 0);

    DoubleClick(IDC_LEFT_PANE, L"..");
    EXPECT_EQ(std::wstring(g_shell.localPath), root);
    EXPECT_EQ(Names(left), FileSystemOrder(root));

    // "." goes up as well.
    DoubleClick(IDC_LEFT_PANE, L"sub");
    DoubleClick(IDC_LEFT_PANE, L".");
    EXPECT_EQ(std::wstring(g_shell.localPath), root);
    DoubleClick(IDC_LEFT_PANE, L".");
    const std::wstring parent = root.substr(0, root.rfind(L'\\'));
    EXPECT_EQ(std::wstring(g_shell.localPath), parent);
    EXPECT_GE(RowIndex(left, root.substr(root.rfind(L'\\') + 1)), 0);
    EXPECT_EQ(boxes.count(), 0u);

    // A file row: the warning, and the same folder listed again.
    ListIn(root);
    data.write(L"late.txt", "l");
    DoubleClick(IDC_LEFT_PANE, L"report.txt");
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"ファイルでフォルダではありません！");
    EXPECT_EQ(boxes.last().caption, L"フォルダ移行");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(boxes.last().owner, window);
    EXPECT_EQ(std::wstring(g_shell.localPath), root);
    EXPECT_GE(RowIndex(left, L"late.txt"), 0);

    // A folder with a dot near its end is taken for a file.
    DoubleClick(IDC_LEFT_PANE, L"app.old");
    EXPECT_EQ(boxes.count(), 2u);
    EXPECT_EQ(std::wstring(g_shell.localPath), root);

    // A file without a dot is entered and lists nothing.
    DoubleClick(IDC_LEFT_PANE, L"README");
    EXPECT_EQ(std::wstring(g_shell.localPath), root + L"\\README");
    EXPECT_EQ(LocalHeader(), root + L"\\README");
    EXPECT_TRUE(Rows(left).empty());

    // An empty pane: nothing happens.
    Notify(window, IDC_LEFT_PANE, NM_DBLCLK);
    EXPECT_EQ(std::wstring(g_shell.localPath), root + L"\\README");
    EXPECT_EQ(boxes.count(), 2u);

    // Rows but none selected: nothing happens either.
    ListIn(root);
    SelectOnly(left, -1);
    Notify(window, IDC_LEFT_PANE, NM_DBLCLK);
    EXPECT_EQ(std::wstring(g_shell.localPath), root);
    EXPECT_EQ(boxes.count(), 2u);

    // The left pane moves in every operation state.
    SetOperationState(5);
    DoubleClick(IDC_LEFT_PANE, L"sub");
    EXPECT_EQ(std::wstring(g_shell.localPath), root + L"\\sub");
    EXPECT_EQ(CurrentOperationState(), 5);
}

TEST_F(PaneTest, DoubleClicksMoveTheRightPaneAndRequestItsListing) {
    auto fill = [] {
        SendMessageW(g_shell.rightPane, LVM_DELETEALLITEMS, 0, 0);
        InsertRemoteRow(L".", L"2024/01/01 00:00", L"", 0, 0);
        InsertRemoteRow(L"..", L"2024/01/01 00:00", L"", 0, 1);
        InsertRemoteRow(L"work", L"2024/01/01 00:00", L"", 1, 2);
        InsertRemoteRow(L"d:\\", L"", L"", 2, 3);
        InsertRemoteRow(L"x.txt", L"2024/01/01 00:00", L"12", 8, 4);
    };
    CopyText(g_shell.remotePath, L"C:\\data");
    fill();
    DoubleClick(IDC_RIGHT_PANE, L"work");
    EXPECT_STREQ(g_shell.remotePath, L"C:\\data\\work");
    EXPECT_TRUE(Rows(right).empty());
    EXPECT_EQ(RemoteHeader(), L"C:\\data\\work");
    EXPECT_EQ(CurrentOperationState(), 1);
    EXPECT_EQ(StatusPart(3), L"CallDIR");

    // While the listing runs, double-clicks in the right pane are ignored.
    fill();
    DoubleClick(IDC_RIGHT_PANE, L"..");
    EXPECT_STREQ(g_shell.remotePath, L"C:\\data\\work");
    EXPECT_EQ(Rows(right).size(), 5u);

    SetOperationState(0);
    DoubleClick(IDC_RIGHT_PANE, L"..");
    EXPECT_STREQ(g_shell.remotePath, L"C:\\data");
    SetOperationState(0);
    fill();
    DoubleClick(IDC_RIGHT_PANE, L".");
    EXPECT_STREQ(g_shell.remotePath, L"C:\\");
    SetOperationState(0);
    fill();
    DoubleClick(IDC_RIGHT_PANE, L"d:\\");
    EXPECT_STREQ(g_shell.remotePath, L"d:\\");
    EXPECT_EQ(RemoteHeader(), L"d:\\");

    // A file row: the warning, and the same folder requested again.
    SetOperationState(0);
    fill();
    boxes.clear();
    DoubleClick(IDC_RIGHT_PANE, L"x.txt");
    ASSERT_GE(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, L"ファイルでフォルダではありません！");
    EXPECT_EQ(boxes.boxes()[0].caption, L"フォルダ移行");
    EXPECT_STREQ(g_shell.remotePath, L"d:\\");
    EXPECT_TRUE(Rows(right).empty());
    EXPECT_EQ(CurrentOperationState(), 1);

    // An empty pane: nothing is requested.
    SetOperationState(0);
    SendMessageW(right, LVM_DELETEALLITEMS, 0, 0);
    Notify(window, IDC_RIGHT_PANE, NM_DBLCLK);
    EXPECT_EQ(CurrentOperationState(), 0);
    EXPECT_STREQ(g_shell.remotePath, L"d:\\");
}

TEST_F(PaneTest, LocalCommandsListOnlyWhileWaiting) {
    ListIn(data.path());
    data.write(L"first.txt", "1");
    Command(window, IDM_LOCAL_RELIST);
    EXPECT_GE(RowIndex(left, L"first.txt"), 0);

    SetOperationState(1);
    data.write(L"second.txt", "2");
    Command(window, IDM_LOCAL_RELIST);
    EXPECT_EQ(RowIndex(left, L"second.txt"), -1);
    Command(window, IDM_LOCAL_ROOT);
    EXPECT_EQ(std::wstring(g_shell.localPath), data.path());
    EXPECT_EQ(LocalHeader(), data.path());
    SetOperationState(0);

    Command(window, IDM_LOCAL_ROOT);
    EXPECT_STREQ(g_shell.localPath, L"C:\\");
    EXPECT_EQ(LocalHeader(), L"C:\\");
    EXPECT_GE(RowIndex(left, L"z:\\"), 0);
    EXPECT_GE(RowIndex(left, L"windows"), 0);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(PaneTest, RightClickTakesThePasteNameInBothPanes) {
    data.write(L"picked.txt", "p");
    ListIn(data.path());
    SelectOnly(left, RowIndex(left, L"picked.txt"));
    Notify(window, IDC_LEFT_PANE, NM_RCLICK);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"コピーしました");
    EXPECT_EQ(boxes.last().caption, L"picked.txt");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes.last().owner, window);
    EXPECT_STREQ(g_shell.pasteName, L"picked.txt");

    InsertRemoteRow(L"\u30ea\u30e2\u30fc\u30c8", L"", L"", 1, 0);
    SelectOnly(right, 0);
    Notify(window, IDC_RIGHT_PANE, NM_RCLICK);
    ASSERT_EQ(boxes.count(), 2u);
    EXPECT_EQ(boxes.last().caption, L"\u30ea\u30e2\u30fc\u30c8");
    EXPECT_STREQ(g_shell.pasteName, L"\u30ea\u30e2\u30fc\u30c8");

    // No selected row: nothing.
    SelectOnly(left, -1);
    Notify(window, IDC_LEFT_PANE, NM_RCLICK);
    EXPECT_EQ(boxes.count(), 2u);
    EXPECT_STREQ(g_shell.pasteName, L"\u30ea\u30e2\u30fc\u30c8");
}

TEST_F(PaneTest, MenuEnablesItsItemsByConnectionAndMonitorState) {
    HMENU bar = GetMenu(window);
    ASSERT_NE(bar, nullptr);
    const int ids[] = {101, 102, 103, 104, 105, 106, 107, 108, 109, 110,
                       111, 112, 113, 114, 115, 116, 117, 119, 120};
    for (int open = 0; open <= 1; ++open) {
        for (int monitor = 0; monitor <= 1; ++monitor) {
            g_shell.connectionOpen = open;
            SetMonitorRecording(monitor);
            for (int i = 0; i < 4; ++i)
                SendMessageW(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(bar, i)), MAKELPARAM(i, 0));
            for (int id : ids) {
                bool grayed = (GetMenuState(bar, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
                bool expected = false;
                if (id == 103 || id == 104 || id == 105 || id == 106 || id == 108 || id == 111) expected = !open;
                if (id == 109 || id == 110 || id == 116) expected = open;
                if (id >= 113 && id <= 115) expected = !monitor;
                EXPECT_EQ(grayed, expected) << "id " << id << " open " << open << " monitor " << monitor;
            }
        }
    }
    g_shell.connectionOpen = 0;
}

TEST_F(PaneTest, ExitCommandClosesTheUnconnectedWindow) {
    Command(window, IDM_EXIT);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(PaneTest, Screenshot) {
    CreateDirectoryW(data.file(L"\u8cc7\u6599").c_str(), nullptr);
    CreateDirectoryW(data.file(L"work").c_str(), nullptr);
    data.write(L"\u5831\u544a\u66f8.txt", std::string(2048, 'r'));
    data.write(L"photo.jpg", std::string(123456, 'p'));
    data.write(L"notes", "n");
    ListIn(data.path());
    InsertRemoteRow(L"..", L"2026/02/28 10:15", L"", 0, 0);
    InsertRemoteRow(L"\u5171\u6709", L"2026/02/27 18:02", L"", 1, 1);
    InsertRemoteRow(L"backup.zip", L"2026/02/20 08:45", L"153M", 8, 2);
    SetOperationState(1);
    RefreshStatusBar();
    SaveScreenshot(window, L"main_window_listing");
    SetOperationState(0);
}

TEST_F(PaneTest, DocumentCommandWithoutTheManualShowsNothing) {
    // The manual is looked for in the current folder, which has none here.
    int dialogs = 0;
    DriveModals([&] { Command(window, IDM_DOCUMENT); }, [&](HWND d, int) {
        ++dialogs;
        SendMessageW(d, WM_CLOSE, 0, 0);
    }, 3000);
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_TRUE(IsWindow(window));
}
