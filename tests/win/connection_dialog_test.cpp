// The connection settings dialog driven in-process: enabling per mode, the
// radio partners, OK against cancel and close, "L" and "S".
#include <windows.h>

#include <gtest/gtest.h>

#include "app/credentials.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "dialogs/dialogs.h"
#include "res/resource.h"
#include "win_test_support.h"

using namespace testing_support;

namespace {

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
// A real click: the auto radio button checks itself, then notifies.
void Press(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

const int kOctets[] = {IDC_EDIT_231, IDC_EDIT_232, IDC_EDIT_233, IDC_EDIT_234};
const int kNames[] = {IDC_EDIT_236, IDC_EDIT_237, IDC_EDIT_238, IDC_EDIT_239};

class ConnectionDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetShellState();
        g_shell.instance = GetModuleHandleW(nullptr);
        CopyText(g_shell.startupFolder, folder.path().c_str());
        SetCurrentDirectoryW(folder.path().c_str());
        CopyText(g_shell.storedId, L"sid");
        CopyText(g_shell.storedPw, L"spw");
        g_settings.port = 1050;
        const int32_t address[4] = {192, 168, 1, 1};
        for (int i = 0; i < 4; ++i) g_settings.targetAddress[i] = address[i];
        CopyText(g_settings.pcNames[0], L"alpha");
        CopyText(g_settings.pcNames[3], L"delta");
    }
    // Opens the dialog and runs `act` on it, then on any dialog it opens
    // (ordinal 1, 2, ...).
    INT_PTR Run(const std::function<void(HWND, int)>& act) {
        INT_PTR result = -2;
        DriveModals([&] { result = RunConnectionSettingsDialog(nullptr); }, act);
        return result;
    }
    TempFolder folder;
    BoxRecorder boxes;
};

}  // namespace

TEST_F(ConnectionDialogTest, ServerModeOpensWithOnlyThePortAndLoginEnabled) {
    g_shell.serverMode = 1;
    g_settings.usePcName = 1;
    CopyText(g_shell.storedId, L"");
    CopyText(g_shell.storedPw, L"");
    INT_PTR r = Run([&](HWND d, int) {
        EXPECT_EQ(TextOf(d), L"接続設定");
        EXPECT_TRUE(Checked(d, IDC_RADIO_222));
        EXPECT_FALSE(Checked(d, IDC_RADIO_221));
        EXPECT_TRUE(Checked(d, IDC_RADIO_224));
        EXPECT_FALSE(Checked(d, IDC_RADIO_223));
        for (int id : kOctets) EXPECT_FALSE(Enabled(d, id)) << id;
        for (int id : kNames) EXPECT_FALSE(Enabled(d, id)) << id;
        EXPECT_FALSE(Enabled(d, IDC_RADIO_223));
        EXPECT_FALSE(Enabled(d, IDC_RADIO_224));
        EXPECT_TRUE(Enabled(d, IDC_EDIT_235));
        EXPECT_TRUE(Enabled(d, IDC_BUTTON_205));
        EXPECT_FALSE(Enabled(d, IDC_BUTTON_206));
        EXPECT_FALSE(Enabled(d, IDC_EDIT_240));
        EXPECT_FALSE(Enabled(d, IDC_EDIT_241));
        // Hidden even when nothing is stored.
        EXPECT_EQ(ControlText(d, IDC_EDIT_240), L"********");
        EXPECT_EQ(ControlText(d, IDC_EDIT_241), L"********");
        EXPECT_EQ(ControlText(d, IDC_EDIT_235), L"1050");
        EXPECT_EQ(ControlText(d, IDC_EDIT_236), L"alpha");
        EXPECT_EQ(ControlText(d, IDC_EDIT_239), L"delta");

        // To the Client side with PC names: names on, octets off.
        Press(d, IDC_RADIO_221);
        EXPECT_TRUE(Checked(d, IDC_RADIO_221));
        EXPECT_FALSE(Checked(d, IDC_RADIO_222));
        EXPECT_TRUE(Enabled(d, IDC_RADIO_223));
        EXPECT_TRUE(Enabled(d, IDC_RADIO_224));
        for (int id : kNames) EXPECT_TRUE(Enabled(d, id)) << id;
        for (int id : kOctets) EXPECT_FALSE(Enabled(d, id)) << id;
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(g_shell.serverMode, 1);  // closed: nothing taken
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(ConnectionDialogTest, ClientRadiosClearTheirPartnersAndSwitchTheFields) {
    g_shell.serverMode = 0;
    g_settings.usePcName = 0;
    INT_PTR r = Run([&](HWND d, int) {
        EXPECT_TRUE(Checked(d, IDC_RADIO_221));
        EXPECT_TRUE(Checked(d, IDC_RADIO_223));
        EXPECT_EQ(ControlText(d, IDC_EDIT_231), L"192");
        EXPECT_EQ(ControlText(d, IDC_EDIT_234), L"1");
        for (int id : kOctets) EXPECT_TRUE(Enabled(d, id)) << id;
        for (int id : kNames) EXPECT_FALSE(Enabled(d, id)) << id;

        // 223 and 224 are in different groups: the dialog clears the partner.
        Press(d, IDC_RADIO_224);
        EXPECT_TRUE(Checked(d, IDC_RADIO_224));
        EXPECT_FALSE(Checked(d, IDC_RADIO_223));
        for (int id : kOctets) EXPECT_FALSE(Enabled(d, id)) << id;
        for (int id : kNames) EXPECT_TRUE(Enabled(d, id)) << id;
        Press(d, IDC_RADIO_223);
        EXPECT_TRUE(Checked(d, IDC_RADIO_223));
        EXPECT_FALSE(Checked(d, IDC_RADIO_224));

        Press(d, IDC_RADIO_222);
        EXPECT_FALSE(Checked(d, IDC_RADIO_221));
        for (int id : kOctets) EXPECT_FALSE(Enabled(d, id)) << id;
        EXPECT_FALSE(Enabled(d, IDC_RADIO_223));
        Click(d, IDC_BUTTON_201);
    });
    EXPECT_EQ(r, 201);
    EXPECT_EQ(g_shell.serverMode, 1);
    EXPECT_EQ(g_settings.usePcName, 0);
}

TEST_F(ConnectionDialogTest, OkTakesTheFieldsAsTheyAreRead) {
    CopyText(g_shell.peerHostName, L"oldpeer");
    INT_PTR r = Run([&](HWND d, int) {
        Press(d, IDC_RADIO_224);
        SetDlgItemTextW(d, IDC_EDIT_231, L"300");   // no range check
        SetDlgItemTextW(d, IDC_EDIT_232, L"1234");  // three characters read
        SetDlgItemTextW(d, IDC_EDIT_233, L"x");     // not a number
        SetDlgItemTextW(d, IDC_EDIT_234, L" 7");
        SetDlgItemTextW(d, IDC_EDIT_235, L"");      // empty port
        SetDlgItemTextW(d, IDC_EDIT_236, L"first");
        SetDlgItemTextW(d, IDC_EDIT_237, std::wstring(300, L'n').c_str());
        SetDlgItemTextW(d, IDC_EDIT_239, L"");
        Click(d, IDC_BUTTON_201);
    });
    EXPECT_EQ(r, 201);
    EXPECT_EQ(g_shell.serverMode, 0);
    EXPECT_EQ(g_settings.usePcName, 1);
    EXPECT_EQ(g_settings.targetAddress[0], 300);
    EXPECT_EQ(g_settings.targetAddress[1], 123);
    EXPECT_EQ(g_settings.targetAddress[2], 0);
    EXPECT_EQ(g_settings.targetAddress[3], 7);
    EXPECT_EQ(g_settings.port, 0);
    EXPECT_STREQ(g_settings.pcNames[0], L"first");
    EXPECT_EQ(std::wstring(g_settings.pcNames[1]), std::wstring(253, L'n'));
    EXPECT_EQ(g_settings.pcNames[1][253], L'\0');
    EXPECT_STREQ(g_settings.pcNames[3], L"");
    EXPECT_STREQ(g_shell.peerHostName, L"");

    // A five-digit port is read whole, a sixth digit is not.
    r = Run([&](HWND d, int) {
        SetDlgItemTextW(d, IDC_EDIT_235, L"654321");
        Click(d, IDC_BUTTON_201);
    });
    EXPECT_EQ(g_settings.port, 65432);
}

TEST_F(ConnectionDialogTest, CancelAndCloseKeepTheSettings) {
    CopyText(g_shell.peerHostName, L"peer");
    INT_PTR r = Run([&](HWND d, int) {
        SetDlgItemTextW(d, IDC_EDIT_235, L"9999");
        Press(d, IDC_RADIO_222);
        Click(d, IDC_BUTTON_202);
    });
    EXPECT_EQ(r, 202);
    EXPECT_EQ(g_settings.port, 1050);
    EXPECT_EQ(g_shell.serverMode, 0);
    EXPECT_STREQ(g_shell.peerHostName, L"peer");

    r = Run([&](HWND d, int) {
        SetDlgItemTextW(d, IDC_EDIT_235, L"9999");
        // Escape does not close it; only the two buttons and the close box do.
        SendMessageW(d, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(IsWindowVisible(d));
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(g_settings.port, 1050);
}

TEST_F(ConnectionDialogTest, LoginClosedWithoutOkWarnsAndKeepsThePairHidden) {
    std::wstring loginTitle, id, pw;
    HWND settings = nullptr;
    INT_PTR r = Run([&](HWND d, int ordinal) {
        if (ordinal == 0) {
            settings = d;
            Click(d, IDC_BUTTON_205);
            id = ControlText(d, IDC_EDIT_240);
            pw = ControlText(d, IDC_EDIT_241);
            EXPECT_FALSE(Enabled(d, IDC_BUTTON_206));
            Click(d, IDC_BUTTON_202);
        } else {
            loginTitle = TextOf(d);
            SetDlgItemTextW(d, IDC_EDIT_240, L"typed");
            SendMessageW(d, WM_CLOSE, 0, 0);
        }
    });
    EXPECT_EQ(r, 202);
    EXPECT_EQ(loginTitle, L"Login操作画面");
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"IDまたはPWが違いますので接続しません");
    EXPECT_EQ(boxes.last().caption, L"Login確認");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_OK | MB_ICONQUESTION));
    EXPECT_EQ(boxes.last().owner, settings);
    EXPECT_EQ(id, L"********");
    EXPECT_EQ(pw, L"********");
}

TEST_F(ConnectionDialogTest, LoginWithOkRevealsThePairAndEnablesRegistrationUntilARadioClick) {
    std::wstring id, pw;
    bool registrationOn = false, registrationAfterRadio = true;
    INT_PTR r = Run([&](HWND d, int ordinal) {
        if (ordinal == 0) {
            Click(d, IDC_BUTTON_205);
            id = ControlText(d, IDC_EDIT_240);
            pw = ControlText(d, IDC_EDIT_241);
            registrationOn = Enabled(d, IDC_BUTTON_206);
            EXPECT_FALSE(Enabled(d, IDC_EDIT_240));  // still display only
            Press(d, IDC_RADIO_224);
            registrationAfterRadio = Enabled(d, IDC_BUTTON_206);
            EXPECT_EQ(ControlText(d, IDC_EDIT_240), L"sid");  // the text stays
            SendMessageW(d, WM_CLOSE, 0, 0);
        } else {
            // Any text at all: the login dialog does not compare here.
            SetDlgItemTextW(d, IDC_EDIT_240, L"anything");
            SetDlgItemTextW(d, IDC_EDIT_241, L"else");
            Click(d, IDC_BUTTON_201);
        }
    });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(id, L"sid");
    EXPECT_EQ(pw, L"spw");
    EXPECT_TRUE(registrationOn);
    EXPECT_FALSE(registrationAfterRadio);
    EXPECT_STREQ(g_shell.loginId, L"anything");
    EXPECT_STREQ(g_shell.loginPw, L"else");
}

TEST_F(ConnectionDialogTest, RegistrationChangesThePairEvenWhenCancelled) {
    std::wstring registrationTitle, id, pw;
    INT_PTR r = Run([&](HWND d, int ordinal) {
        if (ordinal == 0) {
            Click(d, IDC_BUTTON_205);
            Click(d, IDC_BUTTON_206);
            id = ControlText(d, IDC_EDIT_240);
            pw = ControlText(d, IDC_EDIT_241);
            Click(d, IDC_BUTTON_202);
        } else if (ordinal == 1) {
            Click(d, IDC_BUTTON_201);  // login
        } else {
            registrationTitle = TextOf(d);
            SetDlgItemTextW(d, IDC_EDIT_240, L"newid");
            SetDlgItemTextW(d, IDC_EDIT_241, L"newpw");
            Click(d, IDC_BUTTON_201);
        }
    });
    EXPECT_EQ(r, 202);
    EXPECT_EQ(registrationTitle, L"ID&PWの登録画面");
    EXPECT_EQ(id, L"newid");
    EXPECT_EQ(pw, L"newpw");
    EXPECT_STREQ(g_shell.storedId, L"newid");
    EXPECT_STREQ(g_shell.storedPw, L"newpw");
}

TEST_F(ConnectionDialogTest, AdapterIpButtonOpensTheIpToolOwnedByTheDialog) {
    std::wstring title;
    HWND settings = nullptr, owner = nullptr;
    Run([&](HWND d, int ordinal) {
        if (ordinal == 0) {
            settings = d;
            Click(d, IDC_BUTTON_203);
            EXPECT_TRUE(IsWindowVisible(d));  // its result is ignored
            SendMessageW(d, WM_CLOSE, 0, 0);
        } else {
            title = TextOf(d);
            owner = GetWindow(d, GW_OWNER);
            SendMessageW(d, WM_CLOSE, 0, 0);
        }
    });
    EXPECT_EQ(title, L"IP Address Setting");
    EXPECT_EQ(owner, settings);
}

TEST(ConnectionSettingsCommand, SavesAfterCancelSoARegisteredPasswordIsKept) {
    TempFolder folder;
    BoxRecorder boxes;
    WriteConsentedSettings(folder.path(), L"port_no=1050\r\n");
    HWND window = CreateMainWindowIn(folder.path());
    ASSERT_NE(window, nullptr);
    HWND owner = nullptr;
    DriveModals([&] { OnMainCommand(window, IDM_CONN_SETTINGS); },
                [&](HWND d, int ordinal) {
                    if (ordinal == 0) {
                        owner = GetWindow(d, GW_OWNER);
                        SetDlgItemTextW(d, IDC_EDIT_235, L"2222");  // not taken: cancelled
                        Click(d, IDC_BUTTON_205);
                        Click(d, IDC_BUTTON_206);
                        Click(d, IDC_BUTTON_202);
                    } else if (ordinal == 1) {
                        Click(d, IDC_BUTTON_201);
                    } else {
                        SetDlgItemTextW(d, IDC_EDIT_241, L"changed");
                        Click(d, IDC_BUTTON_201);
                    }
                });
    EXPECT_EQ(owner, window);
    const std::wstring ini = folder.file(L"Quorbel.ini");
    EXPECT_EQ(IniValue(ini, L"port_no"), L"1050");
    std::wstring pw;
    ASSERT_TRUE(UnprotectCredential(IniValue(ini, L"wppa"), pw));
    EXPECT_EQ(pw, L"changed");
    EXPECT_EQ(boxes.count(), 0u);
    DestroyMainWindow(window);
}

TEST_F(ConnectionDialogTest, Screenshot) {
    g_shell.serverMode = 0;
    g_settings.usePcName = 0;
    Run([&](HWND d, int) {
        SaveScreenshot(d, L"connection_dialog_client");
        SendMessageW(d, WM_CLOSE, 0, 0);
    });
    g_shell.serverMode = 1;
    Run([&](HWND d, int ordinal) {
        if (ordinal == 0) {
            Click(d, IDC_BUTTON_205);
            SaveScreenshot(d, L"connection_dialog_server_revealed");
            SendMessageW(d, WM_CLOSE, 0, 0);
        } else {
            Click(d, IDC_BUTTON_201);
        }
    });
}
