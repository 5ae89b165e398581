#include <gtest/gtest.h>

#include "core/settings_rules.h"

using namespace quorbel;

TEST(SettingsKeys, NamesInSaveOrder) {
    const char16_t* expected[] = {
        u"currentdirectory_r", u"currentdirectory_w", u"ip_mode", u"port_no",
        u"ip_no1", u"ip_no2", u"ip_no3", u"ip_no4", u"sendreadmonitor_on", u"pc_name",
        u"pc_name_wcs[0].pn", u"pc_name_wcs[1].pn", u"pc_name_wcs[2].pn", u"pc_name_wcs[3].pn",
        u"pw_mode", u"dipa", u"wppa", u"doui_mode",
    };
    ASSERT_EQ(kSettingsKeyOrder.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(u16view(kSettingsKeyOrder[i]), expected[i]) << i;
    EXPECT_EQ(u16view(kSettingsSection), u"Quorbel_setting");
    EXPECT_EQ(u16view(kSettingsFileName), u"Quorbel.ini");
}

TEST(SettingsKeys, PcNameKeysFollowTheirFormat) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(PcNameKey(i), kKeyPcNames[i]);
}

TEST(SettingsDefaults, Values) {
    EXPECT_EQ(u16view(kDefaultFolder), u"C:\\");
    EXPECT_EQ(kDefaultServerMode, 0);
    EXPECT_EQ(kDefaultPort, 1050);
    EXPECT_EQ(kDefaultTargetAddress, (std::array<int32_t, 4>{192, 168, 1, 1}));
    EXPECT_EQ(kDefaultMonitorRecording, 0);
    EXPECT_EQ(kDefaultUsePcName, 0);
    EXPECT_EQ(kDefaultCompanionLaunch, 0);
    EXPECT_EQ(kDefaultConsent, 0);
    EXPECT_EQ(kLocalFolderMaxChars, 259u);
    EXPECT_EQ(kPcNameMaxChars, 255u);
    EXPECT_EQ(kProtectedTextMaxChars, 2047u);
    EXPECT_EQ(kStoredCredentialMaxChars, 127u);
}

TEST(DefaultCredentials, BuiltFromTheDate) {
    EXPECT_EQ(DefaultId(2026), u"QB2026");
    EXPECT_EQ(DefaultId(2026).size(), 6u);
    EXPECT_EQ(DefaultPw(1, 26), u"PW126");
    EXPECT_EQ(DefaultPw(12, 31), u"PW1231");
    EXPECT_EQ(DefaultPw(1, 1), u"PW11");  // four characters, no leading zeros
    EXPECT_EQ(DefaultPw(10, 5), u"PW105");
}

TEST(CutText, KeepsAtMostTheLimit) {
    EXPECT_EQ(CutText(u16(300, u'n'), kPcNameMaxChars).size(), 255u);
    EXPECT_EQ(CutText(u"short", kPcNameMaxChars), u"short");
    EXPECT_EQ(CutText(u16(128, u'i'), kStoredCredentialMaxChars).size(), 127u);
    EXPECT_EQ(CutText(u"", 5), u"");
}

TEST(SettingsFilePath, BoundedTo259) {
    EXPECT_EQ(SettingsFilePath(u"C:\\app"), u"C:\\app\\Quorbel.ini");
    u16 folder(259 - 12, u'a');
    EXPECT_EQ(SettingsFilePath(folder)->size(), 259u);
    folder.push_back(u'a');
    EXPECT_FALSE(SettingsFilePath(folder).has_value());
}
