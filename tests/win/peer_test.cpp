// The main window as Client of `quorbel-peer serve`, which tests/e2e/interop.py starts: its port in
// QUORBEL_PEER_PORT, its root folder (its C:\) in QUORBEL_PEER_ROOT, its pair 試験 / 合言葉.
#include <gtest/gtest.h>

#include "dialogs/monitors.h"
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
    // cross its request.
    auto served = [&] { return !MonitorRows(MonitorKind::DirectoryTable, app->protocol())[0].text.empty(); };
    ASSERT_TRUE(PumpUntil([&] { return listed(app->right.list, L"受領.bin") && served(); }, 30000));
    const std::wstring header = Text(app->connectionHeader);
    EXPECT_EQ(header.substr(0, 16) + header.substr(header.size() - 5) + Text(app->remoteHeader),
              L"OPEN<127,0,0,1>: [高速]C:\\");
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
