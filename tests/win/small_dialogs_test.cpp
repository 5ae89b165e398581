// The folder-creation dialog, the about box, the environment settings
// dialog and the host lookup, driven in-process on real windows.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "app/shell.h"
#include "app/wintext.h"
#include "dialogs/dialogs.h"
#include "net/hostinfo.h"
#include "net/net.h"
#include "panes/panes.h"
#include "res/resource.h"
#include "win_test_support.h"

using namespace testing_support;

namespace {

void PrepareShell() {
    ResetShellState();
    g_shell.instance = GetModuleHandleW(nullptr);
}

void Command(HWND window, int id) { SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

struct ThreadDialogs {
    std::wstring title;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectByTitle(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ThreadDialogs*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, ARRAYSIZE(cls));
    if (wcscmp(cls, L"#32770") == 0 && TextOf(window) == search->title) search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> DialogsTitled(const std::wstring& title) {
    ThreadDialogs search{title, {}};
    EnumThreadWindows(GetCurrentThreadId(), CollectByTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int RowIndex(HWND pane, const std::wstring& name) {
    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;
    find.psz = name.c_str();
    return static_cast<int>(SendMessageW(pane, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

class MainWindowDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        SetOperationState(0);
        SetMonitorRecording(0);
        WriteConsentedSettings(home.path());
        window = CreateMainWindowIn(home.path());
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        SetMonitorRecording(0);
        DestroyMainWindow(window);
    }
    TempFolder home, data;
    BoxRecorder boxes;
    HWND window = nullptr;
};

}  // namespace

TEST(FolderDialog, ChecksTheNameInOrderAndHandsItBack) {
    PrepareShell();
    CopyText(g_shell.localPath, L"C:\\data");  // 7 characters: names up to 241
    CopyText(g_shell.folderName, L"proposal");
    CopyText(g_shell.pasteName, L"pasted");
    BoxRecorder boxes;
    std::wstring initial, afterPaste;
    std::vector<std::wstring> refused;
    bool openAfterRefusals = false;
    INT_PTR result = DriveModal([] { return RunFolderDialog(nullptr); },
                                [&](HWND d) {
                                    initial = ControlText(d, IDC_EDIT_231);
                                    for (const std::wstring& name :
                                         {std::wstring(), std::wstring(L"new.folder"), std::wstring(L"a\\b"),
                                          std::wstring(L".x"), std::wstring(242, L'n')}) {
                                        SetDlgItemTextW(d, IDC_EDIT_231, name.c_str());
                                        Click(d, IDC_BUTTON_202);
                                        refused.push_back(name);
                                    }
                                    openAfterRefusals = IsWindowVisible(d) != 0;
                                    Click(d, IDC_BUTTON_203);
                                    afterPaste = ControlText(d, IDC_EDIT_231);
                                    SetDlgItemTextW(d, IDC_EDIT_231, std::wstring(241, L'n').c_str());
                                    Click(d, IDC_BUTTON_202);
                                });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(initial, L"proposal");
    EXPECT_TRUE(openAfterRefusals);
    EXPECT_EQ(afterPaste, L"pasted");
    auto all = boxes.boxes();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[0].text, L"文字を入力して下さい");
    for (size_t i = 1; i < all.size(); ++i) EXPECT_EQ(all[i].text, L"入力文字にエラー！") << i;
    for (const auto& box : all) {
        EXPECT_EQ(box.caption, L"Folder");
        EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
        EXPECT_NE(box.owner, nullptr);
    }
    EXPECT_EQ(std::wstring(g_shell.folderName), std::wstring(241, L'n'));
}

TEST(FolderDialog, CloseButtonCloseBoxAndEscapeClearTheName) {
    PrepareShell();
    BoxRecorder boxes;
    const std::pair<const char*, std::function<void(HWND)>> ways[] = {
        {"button", [](HWND d) { Click(d, IDC_BUTTON_201); }},
        {"close box", [](HWND d) { SendMessageW(d, WM_CLOSE, 0, 0); }},
        {"escape", [](HWND d) { SendMessageW(d, WM_COMMAND, IDCANCEL, 0); }},
    };
    for (const auto& [how, close] : ways) {
        CopyText(g_shell.folderName, L"keep");
        INT_PTR result = DriveModal([] { return RunFolderDialog(nullptr); },
                                    [&](HWND d) {
                                        SetDlgItemTextW(d, IDC_EDIT_231, L"typed");
                                        close(d);
                                    });
        EXPECT_EQ(result, 1) << how;
        EXPECT_STREQ(g_shell.folderName, L"") << how;
    }
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(MainWindowDialogs, CreateFolderCommandMakesTheFolderAndListsAgain) {
    CopyText(g_shell.localPath, data.path().c_str());
    ListLocalFolder(window);
    // The proposal is the selected row of the other pane.
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.pszText = const_cast<wchar_t*>(L"proposal");
    SendMessageW(g_shell.rightPane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    LVITEMW state = {};
    state.stateMask = state.state = LVIS_SELECTED;
    SendMessageW(g_shell.rightPane, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));

    std::wstring proposed;
    DriveModal([&] { Command(window, IDM_LOCAL_MKDIR); return INT_PTR(1); },
               [&](HWND d) {
                   proposed = ControlText(d, IDC_EDIT_231);
                   SetDlgItemTextW(d, IDC_EDIT_231, L"\u65b0\u3057\u3044");
                   Click(d, IDC_BUTTON_202);
               });
    EXPECT_EQ(proposed, L"proposal");
    const std::wstring created = data.file(L"\u65b0\u3057\u3044");
    DWORD attributes = GetFileAttributesW(created.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_GE(RowIndex(g_shell.leftPane, L"\u65b0\u3057\u3044"), 0);

    // Closing the dialog creates nothing.
    const int rows = static_cast<int>(SendMessageW(g_shell.leftPane, LVM_GETITEMCOUNT, 0, 0));
    DriveModal([&] { Command(window, IDM_LOCAL_MKDIR); return INT_PTR(1); },
               [&](HWND d) {
                   SetDlgItemTextW(d, IDC_EDIT_231, L"never");
                   SendMessageW(d, WM_CLOSE, 0, 0);
               });
    EXPECT_EQ(GetFileAttributesW(data.file(L"never").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(SendMessageW(g_shell.leftPane, LVM_GETITEMCOUNT, 0, 0), rows);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(MainWindowDialogs, AboutBoxShowsVersionBuildAndPictureAndIsDestroyed) {
    Command(window, IDM_VERSION);
    Command(window, IDM_VERSION);
    std::vector<HWND> open = DialogsTitled(L"このソフトについて");
    ASSERT_EQ(open.size(), 2u);
    HWND box = open[0], other = open[1];
    EXPECT_EQ(GetWindow(box, GW_OWNER), window);
    EXPECT_TRUE(IsWindowVisible(box));
    EXPECT_EQ(ControlText(box, IDC_STATIC_501), L"Version 1.060");
    const std::string build = Narrow(ControlText(box, IDC_STATIC_502));
    EXPECT_TRUE(std::regex_match(build, std::regex("Build: (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                   "[ 0-3][0-9] 20[0-9][0-9]")))
        << build;
    EXPECT_EQ(boxes.count(), 0u);

    // The picture is drawn at (40, 0) of the client area, 128 x 64 pixels.
    SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump(200);
    HANDLE reference = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_ABOUT), IMAGE_BITMAP, 0, 0,
                                  LR_CREATEDIBSECTION);
    ASSERT_NE(reference, nullptr);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, reference);
    HDC screen = GetDC(box);
    int mismatches = 0;
    for (int y = 0; y < 64; y += 3)
        for (int x = 0; x < 128; x += 3)
            if (GetPixel(screen, 40 + x, y) != GetPixel(memory, x, y)) ++mismatches;
    // Just left of the picture is the dialog's own background, not the picture's blue band.
    EXPECT_NE(GetPixel(screen, 39, 2), GetPixel(memory, 0, 2));
    ReleaseDC(box, screen);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(reference);
    EXPECT_EQ(mismatches, 0);

    // Each box holds its own picture; the close box destroys the window and
    // releases its picture only.
    HGDIOBJ picture = reinterpret_cast<HGDIOBJ>(GetWindowLongPtrW(box, DWLP_USER));
    HGDIOBJ otherPicture = reinterpret_cast<HGDIOBJ>(GetWindowLongPtrW(other, DWLP_USER));
    ASSERT_EQ(GetObjectType(picture), static_cast<DWORD>(OBJ_BITMAP));
    ASSERT_NE(picture, otherPicture);
    SendMessageW(box, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(GetObjectType(picture), 0u);
    EXPECT_EQ(GetObjectType(otherPicture), static_cast<DWORD>(OBJ_BITMAP));
    Click(other, IDC_BUTTON_201);
    EXPECT_FALSE(IsWindow(other));
    EXPECT_EQ(GetObjectType(otherPicture), 0u);
}

TEST(EnvironmentDialog, OkSetsTheMonitorFlagCancelAndCloseKeepIt) {
    PrepareShell();
    SetMonitorRecording(0);
    bool initiallyChecked = true;
    INT_PTR result = DriveModal([] { return RunEnvironmentDialog(nullptr); },
                                [&](HWND d) {
                                    initiallyChecked = IsDlgButtonChecked(d, IDC_CHECK_521) == BST_CHECKED;
                                    CheckDlgButton(d, IDC_CHECK_521, BST_CHECKED);
                                    Click(d, IDC_BUTTON_201);
                                });
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(initiallyChecked);
    EXPECT_EQ(MonitorRecording(), 1);

    const std::pair<const char*, std::function<void(HWND)>> keeps[] = {
        {"cancel", [](HWND d) { Click(d, IDC_BUTTON_202); }},
        {"close box", [](HWND d) { SendMessageW(d, WM_CLOSE, 0, 0); }},
        {"escape", [](HWND d) { SendMessageW(d, WM_COMMAND, IDCANCEL, 0); }},
    };
    for (const auto& [how, leave] : keeps) {
        bool checked = false;
        result = DriveModal([] { return RunEnvironmentDialog(nullptr); },
                            [&](HWND d) {
                                checked = IsDlgButtonChecked(d, IDC_CHECK_521) == BST_CHECKED;
                                CheckDlgButton(d, IDC_CHECK_521, BST_UNCHECKED);
                                leave(d);
                            });
        EXPECT_EQ(result, 1) << how;
        EXPECT_TRUE(checked) << how;
        EXPECT_EQ(MonitorRecording(), 1) << how;
    }

    result = DriveModal([] { return RunEnvironmentDialog(nullptr); },
                        [&](HWND d) {
                            CheckDlgButton(d, IDC_CHECK_521, BST_UNCHECKED);
                            Click(d, IDC_BUTTON_201);
                        });
    EXPECT_EQ(MonitorRecording(), 0);
}

TEST_F(MainWindowDialogs, EnvironmentCommandSavesTheSettingsAfterwards) {
    const std::wstring ini = home.file(L"Quorbel.ini");
    DriveModal([&] { Command(window, IDM_ENVIRONMENT); return INT_PTR(1); },
               [](HWND d) {
                   CheckDlgButton(d, IDC_CHECK_521, BST_CHECKED);
                   Click(d, IDC_BUTTON_201);
               });
    EXPECT_EQ(MonitorRecording(), 1);
    EXPECT_EQ(IniValue(ini, L"sendreadmonitor_on"), L"1");
    DriveModal([&] { Command(window, IDM_ENVIRONMENT); return INT_PTR(1); },
               [](HWND d) {
                   CheckDlgButton(d, IDC_CHECK_521, BST_UNCHECKED);
                   Click(d, IDC_BUTTON_202);
               });
    EXPECT_EQ(IniValue(ini, L"sendreadmonitor_on"), L"1");
}

TEST_F(MainWindowDialogs, HostNameCommandShowsAddressAndNameOnTwoLines) {
    EXPECT_TRUE(ReadHostInfo());
    const std::wstring address = g_shell.localHostAddress, name = g_shell.localHostName;
    EXPECT_TRUE(address == L"不明" ||
                std::regex_match(Narrow(address), std::regex("[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}")))
        << Narrow(address);
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 63u);
    const std::wstring header = L"<" + address + L">:" + name;
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_HOST_HEADER)), header.substr(0, 63));

    CopyText(g_shell.localHostName, L"stale");
    Command(window, IDM_HOSTNAME);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, address + L"\r\n" + name);
    EXPECT_EQ(boxes.last().caption, L"HostName");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes.last().owner, window);
}

TEST(HostInfo, TextsThatDoNotFitWholeAreNotStored) {
    wchar_t field[kHostChars];
    CopyText(field, L"不明");
    EXPECT_TRUE(StoreHostText(std::string(63, 'h').c_str(), field));
    EXPECT_EQ(std::wstring(field), std::wstring(63, L'h'));

    CopyText(field, L"不明");
    EXPECT_FALSE(StoreHostText(std::string(64, 'h').c_str(), field));
    EXPECT_STREQ(field, L"不明");
    EXPECT_FALSE(StoreHostText(std::string(1025, 'h').c_str(), field));
    EXPECT_STREQ(field, L"不明");

    // Double-byte names count in characters, not bytes.
    auto ansi = [](const std::wstring& wide) {
        char bytes[512] = {};
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
        return std::string(bytes);
    };
    const std::wstring fits(40, L'\u65e5');  // 80 bytes in code page 932
    ASSERT_EQ(ansi(fits).size(), 80u);
    EXPECT_TRUE(StoreHostText(ansi(fits).c_str(), field));
    EXPECT_EQ(std::wstring(field), fits);
    EXPECT_FALSE(StoreHostText(ansi(std::wstring(64, L'\u65e5')).c_str(), field));
    EXPECT_EQ(std::wstring(field), fits);
}

TEST(FolderDialog, Screenshot) {
    PrepareShell();
    CopyText(g_shell.folderName, L"\u65b0\u3057\u3044\u30d5\u30a9\u30eb\u30c0");
    DriveModal([] { return RunFolderDialog(nullptr); },
               [](HWND d) {
                   SaveScreenshot(d, L"folder_dialog");
                   SendMessageW(d, WM_CLOSE, 0, 0);
               });
}

TEST(AboutBox, Screenshot) {
    PrepareShell();
    HWND box = ShowAboutBox(nullptr);
    ASSERT_NE(box, nullptr);
    SaveScreenshot(box, L"about_box");
    DestroyWindow(box);
}

TEST(EnvironmentDialog, Screenshot) {
    PrepareShell();
    SetMonitorRecording(1);
    DriveModal([] { return RunEnvironmentDialog(nullptr); },
               [](HWND d) {
                   SaveScreenshot(d, L"environment_dialog");
                   SendMessageW(d, WM_CLOSE, 0, 0);
               });
    SetMonitorRecording(0);
}
