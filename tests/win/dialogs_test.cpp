// The dialogs as the user drives them, and what the monitors draw.
#include <gtest/gtest.h>

#include "core/fake_host.h"
#include "win/dialogs/dialogs.h"
#include "win/dialogs/monitors.h"
#include "support.h"

TEST(Dialogs, TheConnectionDialogRevealsTheStoredPairOnlyToWhoTypesIt) {
    Boxes boxes;
    quorbel::Settings settings;
    settings.storedId = u"山田", settings.storedPw = u"秘密";
    quorbel::u16 loginId, loginPw;
    std::wstring peerName, shown;
    ConnectionDialogValues values{settings, {loginId, loginPw}, peerName, nullptr};
    for (const wchar_t* typed : {L"違う", L"秘密"}) {
        DriveDialogs([&] { RunConnectionSettingsDialog(nullptr, values); }, [&](HWND dialog, int ordinal) {
            if (ordinal == 1) {  // the login dialog of "L"
                SetDlgItemTextW(dialog, IDC_IDPW_ID, L"山田"), SetDlgItemTextW(dialog, IDC_IDPW_PW, typed);
                return Click(dialog, IDC_IDPW_OK);
            }
            Click(dialog, IDC_CONN_SHOW_PAIR);
            shown += Text(GetDlgItem(dialog, IDC_CONN_ID)) + L"/" + Text(GetDlgItem(dialog, IDC_CONN_PW)) +
                     (IsWindowEnabled(GetDlgItem(dialog, IDC_CONN_CHANGE_PAIR)) ? L" S;" : L";");
            Click(dialog, IDC_CONN_CANCEL);
        });
    }
    EXPECT_EQ(shown, L"********/********;山田/秘密 S;");
    ASSERT_EQ(boxes.All().size(), 1u);
    EXPECT_EQ(boxes.all[0].text, AsWide(quorbel::texts::kLoginNotConfirmed.text));
}

TEST(Dialogs, TheIdPwDialogShowsAndStoresByItsMode) {
    const std::pair<IdPwMode, const wchar_t*> modes[] = {{IdPwMode::FirstRegistration, L"初期設定のお願い"},
                                                         {IdPwMode::Login, L"Login操作画面"},
                                                         {IdPwMode::Registration, L"ID&PWの登録画面"}};
    for (const auto& [mode, title] : modes) {
        quorbel::u16 storedId = u"保存ID", storedPw = u"保存PW", loginId, loginPw;
        std::wstring seen;
        auto run = [&] { return RunIdPwDialog(nullptr, mode, {storedId, storedPw}, {loginId, loginPw}); };
        DriveDialogs([&] { EXPECT_EQ(run(), DialogAnswer::Ok); },
                     [&](HWND dialog, int) {
                         seen = Text(dialog) + L"|" + Text(GetDlgItem(dialog, IDC_IDPW_ID));
                         SendMessageW(dialog, WM_LBUTTONDOWN, 0, MAKELPARAM(320, 5));  // the top right corner
                         seen += L"|" + Text(GetDlgItem(dialog, IDC_IDPW_PW));
                         SetDlgItemTextW(dialog, IDC_IDPW_ID, L"新ID"), Click(dialog, IDC_IDPW_OK);
                     });
        const bool login = mode == IdPwMode::Login;
        EXPECT_EQ(seen, std::wstring(title) + (login ? L"||" : L"|保存ID|") + L"保存PW");
        EXPECT_EQ(storedId + u"," + loginId, login ? u"保存ID,新ID" : u"新ID,");
    }
    quorbel::u16 id = u"残る", no;  // closed, not confirmed: nothing stored
    auto close = [](HWND d, int) { SetDlgItemTextW(d, IDC_IDPW_ID, L"x"), SendMessageW(d, WM_CLOSE, 0, 0); };
    auto run = [&] { return RunIdPwDialog(nullptr, IdPwMode::Registration, {id, no}, {no, no}); };
    DriveDialogs([&] { EXPECT_EQ(run(), DialogAnswer::Closed); }, close);
    EXPECT_EQ(id, u"残る");
}

TEST(Dialogs, TheFolderDialogAnswersBadNamesWithABoxAndStaysOpen) {
    Boxes boxes;
    FolderRequest request{L"提案", L"貼付名", 7};
    std::wstring proposed;
    DriveDialogs([&] { RunFolderDialog(nullptr, request); }, [&](HWND dialog, int) {
        proposed = Text(GetDlgItem(dialog, IDC_FOLDER_NAME));
        for (auto bad : {L"", L"a.b"}) SetDlgItemTextW(dialog, IDC_FOLDER_NAME, bad), Click(dialog, IDC_FOLDER_CREATE);
        Click(dialog, IDC_FOLDER_PASTE), Click(dialog, IDC_FOLDER_CREATE);
    });
    EXPECT_EQ(proposed + L"," + request.name, L"提案,貼付名");
    ASSERT_EQ(boxes.All().size(), 2u);
    EXPECT_EQ(boxes.all[0].text, AsWide(quorbel::texts::kFolderNameEmpty.text));
    EXPECT_EQ(boxes.all[1].text, AsWide(quorbel::texts::kFolderNameBad.text));
}

TEST(Dialogs, TheReceivedMonitorShowsEachMessageInThisCodePageOnItsRow) {
    quorbel::testing::FakeHost host;
    quorbel::Protocol protocol(host, host, host, host);
    protocol.SetMonitorRecording(1);
    protocol.Receive("DDC:\\\x8e\x91\x97\xbf", 9);  // C:\資料 in code page 932
    const auto rows = MonitorRows(MonitorKind::Received, protocol);
    ASSERT_EQ(rows.size(), 32u);
    EXPECT_EQ(std::to_wstring(rows[0].y) + L" " + rows[0].text, L"0 DDC:\\資料");
    EXPECT_EQ(std::to_wstring(rows[5].y) + L" " + rows[5].text, L"100 ");
}
