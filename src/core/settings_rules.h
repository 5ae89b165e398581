// Names, defaults and limits of the settings file Quorbel.ini, and the
// default ID and password built from the local date.
#pragma once

#include <array>
#include <optional>

#include "core/text.h"

namespace quorbel {

inline constexpr const char16_t* kSettingsFileName = u"Quorbel.ini";
inline constexpr const char16_t* kSettingsSection = u"Quorbel_setting";

// Keys, one per value.
inline constexpr const char16_t* kKeyLocalFolder = u"currentdirectory_r";
inline constexpr const char16_t* kKeyRemoteFolder = u"currentdirectory_w";  // written, never read
inline constexpr const char16_t* kKeyServerMode = u"ip_mode";
inline constexpr const char16_t* kKeyPort = u"port_no";
inline constexpr std::array<const char16_t*, 4> kKeyTargetAddress = {u"ip_no1", u"ip_no2", u"ip_no3", u"ip_no4"};
inline constexpr const char16_t* kKeyMonitorRecording = u"sendreadmonitor_on";
inline constexpr const char16_t* kKeyUsePcName = u"pc_name";
inline constexpr std::array<const char16_t*, 4> kKeyPcNames = {
    u"pc_name_wcs[0].pn", u"pc_name_wcs[1].pn", u"pc_name_wcs[2].pn", u"pc_name_wcs[3].pn"};
inline constexpr const char16_t* kKeyCompanionLaunch = u"pw_mode";
inline constexpr const char16_t* kKeyStoredId = u"dipa";
inline constexpr const char16_t* kKeyStoredPw = u"wppa";
inline constexpr const char16_t* kKeyConsent = u"doui_mode";

// Every key in the order the settings are saved.
inline constexpr std::array<const char16_t*, 18> kSettingsKeyOrder = {
    kKeyLocalFolder, kKeyRemoteFolder, kKeyServerMode, kKeyPort,
    kKeyTargetAddress[0], kKeyTargetAddress[1], kKeyTargetAddress[2], kKeyTargetAddress[3],
    kKeyMonitorRecording, kKeyUsePcName,
    kKeyPcNames[0], kKeyPcNames[1], kKeyPcNames[2], kKeyPcNames[3],
    kKeyCompanionLaunch, kKeyStoredId, kKeyStoredPw, kKeyConsent,
};

// Key of the PC name with index 0..3 ("pc_name_wcs[%d].pn").
u16 PcNameKey(int index);

// Defaults for missing keys.
inline constexpr const char16_t* kDefaultFolder = u"C:\\";  // also where the right pane starts
constexpr int32_t kDefaultServerMode = 0;                   // Client
constexpr int32_t kDefaultPort = 1050;
constexpr std::array<int32_t, 4> kDefaultTargetAddress = {192, 168, 1, 1};
constexpr int32_t kDefaultMonitorRecording = 0;
constexpr int32_t kDefaultUsePcName = 0;
constexpr int32_t kDefaultCompanionLaunch = 0;
constexpr int32_t kDefaultConsent = 0;

// How much of each read value is kept.
constexpr std::size_t kLocalFolderMaxChars = 259;
constexpr std::size_t kPcNameCount = 4;
constexpr std::size_t kPcNameMaxChars = 255;
constexpr std::size_t kProtectedTextMaxChars = 2047;  // dipa and wppa as read
constexpr std::size_t kStoredCredentialMaxChars = 127;

// The first `maxChars` units of `text` (the whole text when it is shorter).
u16 CutText(u16view text, std::size_t maxChars);

// Default ID: "QB" and the year in decimal (QB2026).
u16 DefaultId(int year);
// Default PW: "PW", the month and the day, without leading zeros (Jan 26
// gives PW126, Dec 31 PW1231).
u16 DefaultPw(int month, int day);

// Start-up folder followed by "\Quorbel.ini"; nullopt when that passes 259
// characters.
std::optional<u16> SettingsFilePath(u16view startupFolder);

}  // namespace quorbel
