// The two settings files: Quorbel.ini (section Quorbel_setting) and the
// companion tool's zelvane.ini (section Setting). Each has one table of its
// keys and read limits, and loading and saving both walk it, so a key is
// named once; a key's default is the initial value of its field below.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/base/limits.h"
#include "core/base/path_rules.h"
#include "core/base/text.h"

namespace quorbel {

inline constexpr const char16_t* kSettingsFileName = u"Quorbel.ini";
inline constexpr const char16_t* kSettingsSection = u"Quorbel_setting";
inline constexpr const char16_t* kCompanionFileName = u"zelvane.ini";
inline constexpr const char16_t* kCompanionSection = u"Setting";
inline constexpr const char16_t* kCompanionProgram = u"zelvane.exe";

// Everything Quorbel.ini keeps.
struct Settings {
    u16 localFolder = kStartFolder;
    u16 remoteFolder = kStartFolder;  // written, never read: the right pane always starts at C:\ .
    int32_t serverMode = 0;  // 0 Client, 1 Server; kept as read (see IsServer)
    int32_t port = kDefaultPort;
    std::array<int32_t, 4> targetAddress = {192, 168, 1, 1};
    int32_t monitorRecording = 0;  // kept as read; the monitors record while it is 1
    int32_t usePcName = 0;
    std::array<u16, kPcNameCount> pcNames;
    int32_t companionLaunch = 0;
    u16 storedId, storedPw;  // missing from the file: DefaultId and DefaultPw
    int32_t consent = 0;
    int32_t fastMode = 1;  // 0 keeps the plain protocol with programs of ours too
    int32_t loginRequired = 1;  // the Server serves a connection only once it logged in; 0 serves any
    // Client: the Servers it had secure sessions with, by the keys of
    // SecurePeerKey ("name:port;" each).
    u16 securePeers;
    int32_t requireSecure = 0;  // 1: secure sessions only, either role; 0 keeps peers of the plain protocol
    // The Server's own salt of the pair's stretch (PairSaltText), new with
    // each pair set.
    u16 pairSalt;
    // 1 while the stored pair is the one proposed from the date at the first
    // start; a pair not of that form never counts as proposed.
    int32_t pairProposed = 1;

    // The role, one reading for every place that asks: 0 is the Client, any
    // other value read from the file the Server.
    bool IsServer() const { return serverMode != 0; }
};

// How long the companion tool keeps the ID, then the PW, on the clipboard.
constexpr int32_t kCompanionStepMs = 5000;

// What zelvane.ini gives the companion tool.
struct CompanionSettings {
    int32_t x = 0, y = 0;  // its window: 300 left of and 50 above the IP tool's window
    int32_t idTime = kCompanionStepMs;
    int32_t pwTime = kCompanionStepMs;
    u16 adminId = u"ID";
    u16 adminPw = u"PW";
};

// An INI file section as the Windows private-profile functions see it.
class IniSection {
public:
    virtual ~IniSection() = default;
    // GetPrivateProfileIntW: the default when missing, 0 when not a number.
    virtual int32_t ReadInt(u16view key, int32_t fallback) = 0;
    // GetPrivateProfileStringW with a buffer of maxChars + 1.
    virtual u16 ReadText(u16view key, u16view fallback, std::size_t maxChars) = 0;
    virtual void WriteText(u16view key, u16view value) = 0;
};

// The per-user protection of the stored ID and PW.
class CredentialVault {
public:
    virtual ~CredentialVault() = default;
    // The single-line protected text, empty when protecting fails.
    virtual u16 Protect(u16view plain) = 0;
    // False (and `plain` untouched) for a text of another user or a damaged one.
    virtual bool Unprotect(u16view text, u16& plain) = 0;
};

struct LocalDate {
    int year = 0, month = 0, day = 0;
};

// An ID or PW missing from the file: "QB" and the year, "PW" and the month
// and day without leading zeros (QB2026, PW126 for 26 January).
u16 DefaultId(const LocalDate& today);
u16 DefaultPw(const LocalDate& today);

// Loads every key (the remote folder starts at C:\ whatever the file says).
// An ID or PW that cannot be unprotected stays as `settings` had it.
void LoadSettings(IniSection& ini, CredentialVault& vault, const LocalDate& today, Settings& settings);
void SaveSettings(IniSection& ini, CredentialVault& vault, const Settings& settings);
// The keys written at once on their own, when they change, as well as with
// all the others.
inline constexpr const char16_t* kSecurePeersKey = u"secure_peers";
inline constexpr const char16_t* kPairSaltKey = u"pair_salt";
void SaveSettingsKey(IniSection& ini, CredentialVault& vault, const Settings& settings, u16view key);

// pair_salt: the Server's own salt (kServerSaltBytes) in lower-case hex, and
// back; empty for a text that is not exactly such a salt.
u16 PairSaltText(std::string_view salt);
std::string PairSaltBytes(u16view text);

// zelvane.ini: the IP tool reads the times and texts back and writes all
// six keys; the companion tool reads all six.
void LoadCompanionSettings(IniSection& ini, CompanionSettings& companion);
void SaveCompanionSettings(IniSection& ini, const CompanionSettings& companion);

// The companion window's place for an IP tool window at (left, top).
void PlaceCompanion(CompanionSettings& companion, int32_t left, int32_t top);
// A time edit: its first kCompanionTimeEditChars characters read like _wtoi.
constexpr std::size_t kCompanionTimeEditChars = 61;
int32_t ReadCompanionTime(u16view text);
// What the IP tool takes from its ID and PW edits, and what zelvane.ini
// gives back of each.
constexpr std::size_t kCompanionTextEditChars = 253;
constexpr std::size_t kCompanionTextReadChars = 249;

}  // namespace quorbel
