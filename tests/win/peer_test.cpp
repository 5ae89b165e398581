// The main window as Client of `quorbel-peer serve`, which tests/e2e/interop.py starts: its port in
// QUORBEL_PEER_PORT, its root folder (its C:\) in QUORBEL_PEER_ROOT, its pair 試験 / 合言葉.
#include <gtest/gtest.h>

#include "win/dialogs/monitors.h"
#include "win/base/win_files.h"
#include "support.h"

TEST(AgainstPeer, CopiesCodePage932NamesBothWaysThroughTheMenu) {
    const wchar_t *port = _wgetenv(L"QUORBEL_PEER_PORT"), *root = _wgetenv(L"QUORBEL_PEER_ROOT");
    if (!port || !root) GTEST_SKIP() << "needs the peer that tests/e2e/interop.py starts";
    Boxes boxes;
    Folder folder(L"qb_against_peer");
    std::string sent(300000, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>((i * 7919) >> 5);
    WriteBytes(folder.path + L"\\報告書.txt", sent);
    auto app = OpenMainWindow(folder.path, {{L"port_no", port}}, false);
    DriveDialogs([&] { SendMessageW(app->window, WM_COMMAND, IDM_CONNECT, 0); }, [](HWND d, int) {
        SetDlgItemTextW(d, IDC_IDPW_ID, L"試験"), SetDlgItemTextW(d, IDC_IDPW_PW, L"合言葉"), Click(d, IDC_IDPW_OK);
    });
    auto listed = [&](HWND list, const wchar_t* name) { return app->protocol().IsWaiting() && RowOf(list, name) >= 0; };
    auto copy = [&](HWND list, const wchar_t* name, int command) {
        SelectRows(list, {RowOf(list, name)});
        DriveDialogs([&] { SendMessageW(app->window, WM_COMMAND, command, 0); },
                     [](HWND dialog, int) { Click(dialog, IDC_COPY_START); }, 60000);
    };
    // A Server lists its Client once after the Client's first listing; a copy started before that would
    // cross its request. Its first record is in the table before that listing ends, so waiting is asked after.
    auto served = [&] { return !MonitorRows(MonitorKind::DirectoryTable, app->protocol())[0].text.empty(); };
    ASSERT_TRUE(PumpUntil([&] { return served() && listed(app->right.list, L"受領.bin"); }, 30000));
    const std::wstring header = Text(app->connectionHeader);
    EXPECT_EQ(header.substr(0, 16) + header.substr(header.size() - 11) + Text(app->remoteHeader),
              L"OPEN<127,0,0,1>: [高速] [暗号化]C:\\");
    copy(app->left.list, L"報告書.txt", IDM_COPY_TO);
    EXPECT_TRUE(ReadBytes(root + std::wstring(L"\\報告書.txt")) == sent);
    EXPECT_TRUE(PumpUntil([&] { return listed(app->right.list, L"報告書.txt"); }));  // the peer's folder again
    copy(app->right.list, L"受領.bin", IDM_COPY_FROM);
    EXPECT_TRUE(ReadBytes(folder.path + L"\\受領.bin") == ReadBytes(root + std::wstring(L"\\受領.bin")));
    EXPECT_TRUE(listed(app->left.list, L"受領.bin"));  // this folder again

    // The same get, cut before at half the file: this side's files go on
    // after the part kept beside the note that names the peer's source.
    const std::wstring source = root + std::wstring(L"\\受領.bin"), local = folder.path + L"\\受領.bin";
    const std::string whole = ReadBytes(source);
    WIN32_FILE_ATTRIBUTE_DATA a{};
    ASSERT_TRUE(GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &a));
    const uint64_t lastWrite = uint64_t(a.ftLastWriteTime.dwHighDateTime) << 32 | a.ftLastWriteTime.dwLowDateTime;
    WriteBytes(local + L".$PART", whole.substr(0, whole.size() / 2));
    WriteBytes(local + L".$PARTID",
               "quorbel partial " + std::to_string(whole.size()) + " " + std::to_string(lastWrite) + "\n");
    copy(app->right.list, L"受領.bin", IDM_COPY_FROM);
    EXPECT_TRUE(ReadBytes(local) == whole);
    EXPECT_EQ(app->protocol().ResumedAt(), whole.size() / 2);
    EXPECT_EQ(GetFileAttributesW((local + L".$PART").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((local + L".$PARTID").c_str()), INVALID_FILE_ATTRIBUTES);
    for (const auto& box : boxes.All()) ADD_FAILURE() << box.caption << ": " << box.text;

    // A file the peer cannot put in place (a folder holds its name) is named as not copied.
    ASSERT_TRUE(CreateDirectoryW((root + std::wstring(L"\\衝突.txt")).c_str(), nullptr));
    WriteBytes(folder.path + L"\\衝突.txt", "x");
    ListLocalFolder(app->left, app->localHeader, app->settings.localFolder);
    copy(app->left.list, L"衝突.txt", IDM_COPY_TO);
    ASSERT_EQ(boxes.All().size(), 1u);
    EXPECT_EQ(boxes.All()[0].text, L"次のファイルは複写できませんでした\r\n衝突.txt");
    RemoveDirectoryW((root + std::wstring(L"\\衝突.txt")).c_str());
}

// Folders through the transfer dialog, both ways, in the fast mode and the plain one: an empty folder, a Japanese
// name and an empty file arrive whole with their times; a file changed since is asked about and replaced.
TEST(AgainstPeer, CopiesTreesBothWaysInOneTransferDialog) {
    const wchar_t *port = _wgetenv(L"QUORBEL_PEER_PORT"), *root = _wgetenv(L"QUORBEL_PEER_ROOT");
    if (!port || !root) GTEST_SKIP() << "needs the peer that tests/e2e/interop.py starts";
    const FILETIME time = ToFileTime(133000000000000000ULL);  // 2022-06-19
    auto write = [&](const std::wstring& path, const std::string& bytes) {
        WriteBytes(path, bytes);
        HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SetFileTime(file, &time, &time, &time);
        CloseHandle(file);
    };
    auto written = [](const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        return FileTimeValue(data.ftLastWriteTime);
    };
    for (const wchar_t* mode : {L"1", L"0"}) {
        Boxes boxes;
        Folder folder(std::wstring(L"qb_tree") + mode);
        const std::wstring top = std::wstring(L"木") + mode, files[] = {L"\\日本語の名前.txt", L"\\零.bin", L"\\下\\深い.dat"};
        for (const auto& sub : {L"", L"\\空", L"\\下"}) CreateDirectoryW((folder.path + L"\\" + top + sub).c_str(), nullptr);
        write(folder.path + L"\\" + top + files[0], std::string(3000, 'j'));
        write(folder.path + L"\\" + top + files[1], "");
        write(folder.path + L"\\" + top + files[2], std::string(70000, 'd'));
        auto app = OpenMainWindow(folder.path, {{L"port_no", port}, {L"fast_mode", mode}}, false);
        DriveDialogs([&] { SendMessageW(app->window, WM_COMMAND, IDM_CONNECT, 0); }, [](HWND d, int) {
            SetDlgItemTextW(d, IDC_IDPW_ID, L"試験"), SetDlgItemTextW(d, IDC_IDPW_PW, L"合言葉"), Click(d, IDC_IDPW_OK);
        });
        auto listed = [&](HWND list, const std::wstring& name) { return app->protocol().IsWaiting() && RowOf(list, name) >= 0; };
        // A Server lists its Client once after the Client's first listing: not across a copy (its end asked last).
        ASSERT_TRUE(PumpUntil([&] {
            return !MonitorRows(MonitorKind::DirectoryTable, app->protocol())[0].text.empty() &&
                   listed(app->right.list, L"受領.bin");
        }, 30000));
        // The summary as the dialog shows it at its end; the overwrite question answered "上書き" for all.
        static std::wstring summary;
        auto told = [&] {  // what the program said instead, for a failure
            std::wstring all = L" waiting=" + std::to_wstring(app->protocol().IsWaiting());
            for (const auto& box : boxes.All()) all += L" | " + box.caption + L": " + box.text;
            return all;
        };
        // A request of the peer that came first keeps the program busy and it says so: the same command once it
        // waits again. (Once in some twenty runs the program is busy just after the Server's listing of it.)
        auto busy = [&] {
            std::lock_guard<std::mutex> guard(boxes.lock);
            if (!summary.empty() || boxes.all.empty() || boxes.all.back().text != L"他の動作中は出来ません") return false;
            boxes.all.pop_back();
            return true;
        };
        auto batch = [&](HWND list, int command) {
            for (int tries = 0; tries < 3; ++tries) {
                summary.clear();
                ASSERT_TRUE(PumpUntil([&] { return app->protocol().IsWaiting(); })) << told();
                ASSERT_GE(RowOf(list, top), 0) << told();
                SelectRows(list, {RowOf(list, top)});
                DriveDialogs([&] { SendMessageW(app->window, WM_COMMAND, command, 0); }, [](HWND d, int) {
                    if (GetDlgItem(d, IDC_OVERWRITE_ALL)) {
                        CheckDlgButton(d, IDC_OVERWRITE_ALL, BST_CHECKED), Click(d, IDC_OVERWRITE_REPLACE);
                        return;
                    }
                    SetTimer(d, 77, 50, [](HWND d, UINT, UINT_PTR, DWORD) {
                        if (!IsWindowEnabled(GetDlgItem(d, IDC_TRANSFER_CLOSE))) return;
                        summary = Text(GetDlgItem(d, IDC_TRANSFER_SUMMARY));
                        Click(d, IDC_TRANSFER_CLOSE);
                    });
                }, 120000);
                if (!busy()) return;
            }
        };
        batch(app->left.list, IDM_COPY_TO);
        EXPECT_EQ(summary, L"複写 3 件　スキップ 0 件　失敗 0 件") << mode << told();
        const std::wstring there = root + (L"\\" + top), here = folder.path + L"\\" + top;
        EXPECT_EQ(GetFileAttributesW((there + L"\\空").c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY)) << mode;
        for (const auto& file : files)
            EXPECT_TRUE(ReadBytes(there + file) == ReadBytes(here + file) && written(there + file) == written(here + file))
                << mode << file;

        // Changed here: asked about once, replaced; the rest is there already.
        write(here + files[0], std::string(5000, 'k'));
        ASSERT_TRUE(PumpUntil([&] { return listed(app->right.list, top); })) << told();
        batch(app->left.list, IDM_COPY_TO);
        EXPECT_EQ(summary.substr(0, summary.find(L"\r\n")), L"複写 1 件　スキップ 2 件　失敗 0 件") << mode;
        EXPECT_TRUE(ReadBytes(there + files[0]) == ReadBytes(here + files[0])) << mode;

        // And back, into a folder of its own.
        app->settings.localFolder = AsU16View(here + L"\\戻");
        CreateDirectoryW((here + L"\\戻").c_str(), nullptr);
        ListLocalFolder(app->left, app->localHeader, app->settings.localFolder);
        ASSERT_TRUE(PumpUntil([&] { return listed(app->right.list, top); }));
        batch(app->right.list, IDM_COPY_FROM);
        EXPECT_EQ(summary, L"複写 3 件　スキップ 0 件　失敗 0 件") << mode;
        const std::wstring back = here + L"\\戻\\" + top;
        EXPECT_NE(GetFileAttributesW((back + L"\\空").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << mode;
        for (const auto& file : files)
            EXPECT_TRUE(ReadBytes(back + file) == ReadBytes(there + file) && written(back + file) == written(here + file))
                << mode << file;
        for (const auto& box : boxes.All()) ADD_FAILURE() << box.caption << ": " << box.text;
        std::error_code ignored;
        std::filesystem::remove_all(there, ignored);
    }
}
