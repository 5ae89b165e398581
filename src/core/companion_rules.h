// Settings file zelvane.ini of the companion tool that the IP address dialog
// starts before an elevated batch file: names, defaults, limits and the
// window position it is given.
#pragma once

#include <array>
#include <optional>

#include "core/text.h"

namespace quorbel {

inline constexpr const char16_t* kCompanionFileName = u"zelvane.ini";
inline constexpr const char16_t* kCompanionProgram = u"zelvane.exe";
inline constexpr const char16_t* kCompanionSection = u"Setting";

inline constexpr const char16_t* kKeyMotoX = u"moto_x";
inline constexpr const char16_t* kKeyMotoY = u"moto_y";
inline constexpr const char16_t* kKeyIdTime = u"id_time";
inline constexpr const char16_t* kKeyPwTime = u"pw_time";
inline constexpr const char16_t* kKeyAdminId = u"id_wcs";
inline constexpr const char16_t* kKeyAdminPw = u"pw_wcs";

// The order in which the keys are written.
inline constexpr std::array<const char16_t*, 6> kCompanionKeyOrder = {
    kKeyMotoX, kKeyMotoY, kKeyIdTime, kKeyPwTime, kKeyAdminId, kKeyAdminPw};

constexpr int32_t kDefaultIdTime = 5000;
constexpr int32_t kDefaultPwTime = 5000;
inline constexpr const char16_t* kDefaultAdminId = u"ID";
inline constexpr const char16_t* kDefaultAdminPw = u"PW";

constexpr std::size_t kCompanionTextReadMaxChars = 249;   // id_wcs, pw_wcs read back
constexpr std::size_t kCompanionTextFieldMaxChars = 253;  // ID and PW taken from the edits
constexpr std::size_t kCompanionTimeFieldMaxChars = 61;   // times taken from the edits

// A time edit: its first 61 characters read like _wtoi (letters give 0).
int32_t ReadCompanionTime(u16view text);

struct CompanionPosition {
    int32_t x = 0, y = 0;
};

// 300 pixels left of and 50 above the dialog's top-left corner, never below 0.
CompanionPosition CompanionPositionFor(int32_t left, int32_t top);

// Start-up folder + "\zelvane.ini"; nullopt when that passes 259 characters.
std::optional<u16> CompanionFilePath(u16view startupFolder);

}  // namespace quorbel
