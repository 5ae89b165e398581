// Quorbel.ini through the real private-profile functions and the user's data protection, and what the
// main window does with what it read.
#include <gtest/gtest.h>

#include "support.h"

TEST(Settings, TheStoredPairIsKeptProtectedAndOnlyThisUserReadsItBack) {
    Folder folder(L"qb_settings");
    App app(folder.path, false), again(folder.path, false), other(folder.path, false);
    app.settings.storedId = u"山田", app.settings.storedPw = u"秘密の語";
    app.SaveSettings();
    const std::wstring first = IniText(folder.path, L"dipa");
    EXPECT_EQ(first.find_first_not_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::wstring::npos);  // one line of Base64
    app.SaveSettings();
    std::wstring foreign = IniText(folder.path, L"dipa");
    EXPECT_NE(foreign, first) << "protected the same way twice";
    LoadSettings(again);
    EXPECT_EQ(again.settings.storedId + u"/" + again.settings.storedPw, u"山田/秘密の語");

    // A value protected for another user reads as damaged: the pair stays.
    wchar_t& c = foreign[foreign.size() - 10];  // in the cipher text
    c = c == L'A' ? L'B' : L'A';
    WritePrivateProfileStringW(L"Quorbel_setting", L"dipa", foreign.c_str(), (folder.path + L"\\Quorbel.ini").c_str());
    other.settings.storedId = u"前の値";
    LoadSettings(other);
    EXPECT_EQ(other.settings.storedId + u"/" + other.settings.storedPw, u"前の値/秘密の語");
}

TEST(Settings, TheMainWindowKeepsAMonitorValueOfTwoAndOpensTheManualOfItsFolder) {
    Folder folder(L"qb_main_window");
    const std::wstring manual = folder.path + L"\\Quorbel_manual.pdf", record = folder.path + L"\\opened.txt";
    WriteBytes(manual, "%PDF-1.4\n");
    auto app = OpenMainWindow(folder.path, {{L"sendreadmonitor_on", L"2"}});
    HMENU popup = GetSubMenu(GetMenu(app->window), 2);  // "接続(&C)"
    ASSERT_NE(GetMenuState(popup, IDM_MON_SENT, MF_BYCOMMAND), UINT(-1));
    SendMessageW(app->window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 2);
    EXPECT_FALSE(GetMenuState(popup, IDM_MON_SENT, MF_BYCOMMAND) & MF_GRAYED);
    app->SaveSettings();
    EXPECT_EQ(IniText(folder.path, L"sendreadmonitor_on"), L"2");

    // "ドキメント(&D)": a .pdf handler that writes down what it was asked to open.
    const std::wstring handler = L"cmd.exe /c echo %1>\"" + record + L"\"";
    RegSetKeyValueW(HKEY_CLASSES_ROOT, L".pdf", nullptr, REG_SZ, L"QuorbelTestPdf", 30);
    RegSetKeyValueW(HKEY_CLASSES_ROOT, L"QuorbelTestPdf\\shell\\open\\command", nullptr, REG_SZ, handler.c_str(),
                    DWORD((handler.size() + 1) * sizeof(wchar_t)));
    SendMessageW(app->window, WM_COMMAND, IDM_DOCUMENT, 0);
    EXPECT_TRUE(PumpUntil([&] { return ReadBytes(record).find("\r\n") != std::string::npos; }));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"QuorbelTestPdf");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".pdf");
    EXPECT_EQ(ReadBytes(record), std::string(manual.begin(), manual.end()) + "\r\n");
}

// The first start proposes the date's pair: kept, it is named as such, to the user at once and in a Server's
// header. Every pair has a salt of its own in the file, also one whose salt was lost.
TEST(Settings, TheFirstStartWarnsOfTheDatesPairAndAPairIsNeverWithoutItsSalt) {
    Folder folder(L"qb_first_start");
    WritePrivateProfileStringW(L"Quorbel_setting", L"ip_mode", L"1", (folder.path + L"\\Quorbel.ini").c_str());
    Boxes boxes;  // the consent: YES
    App app(folder.path, false);
    DriveDialogs([&] { CreateMainWindow(app); }, [](HWND d, int) { Click(d, IDC_IDPW_OK); });  // as proposed
    ASSERT_EQ(boxes.All().size(), 2u);
    EXPECT_EQ(boxes.all[1].text, AsWide(quorbel::texts::kProposedPair.text));
    const std::wstring salt = IniText(folder.path, L"pair_salt");
    auto isSalt = [](const std::wstring& s) { return s.size() == 32 && s.find_first_not_of(L"0123456789abcdef") > 31; };
    EXPECT_TRUE(isSalt(salt)) << salt;
    EXPECT_EQ(IniText(folder.path, L"pair_proposed"), L"1");
    EXPECT_EQ(Text(app.connectionHeader), std::wstring(L"Server:CLOSE") + AsWide(quorbel::texts::kHeaderProposedPair));
    app.settings.storedPw.clear();
    app.ShowConnectionHeader(false);
    EXPECT_EQ(Text(app.connectionHeader), std::wstring(L"Server:CLOSE") + AsWide(quorbel::texts::kHeaderNoPair));
    DestroyWindow(app.window);
    for (MSG quit; PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);) {
    }

    WritePrivateProfileStringW(L"Quorbel_setting", L"pair_salt", L"0123", (folder.path + L"\\Quorbel.ini").c_str());
    App again(folder.path, false);
    LoadSettings(again);
    EXPECT_TRUE(isSalt(IniText(folder.path, L"pair_salt")) && IniText(folder.path, L"pair_salt") != salt);
}
