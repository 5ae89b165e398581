#include "core/settings/settings.h"

#include <string>

#include "core/panes/row_rules.h"

namespace quorbel {

namespace {

enum class Kind { Number, Text, Credential };

// One key: where its value lives and how much of it is kept. Its default is
// what a default-constructed Values holds there.
template <typename Values>
struct Key {
    const char16_t* name;
    Kind kind;
    int32_t* (*number)(Values&);
    u16* (*text)(Values&);
    std::size_t maxChars;  // text kept from the file
    bool loaded;           // false: written only
    u16 (*dated)(const LocalDate&) = nullptr;  // a credential's default, built from the date
};

#define NUMBER(field) [](Settings& s) { return &s.field; }, nullptr
#define TEXT(field) nullptr, [](Settings& s) { return &s.field; }

// In the order the keys are written; loading reads them in the same order.
const Key<Settings> kSettingsKeys[] = {
    {u"currentdirectory_r", Kind::Text, TEXT(localFolder), kMaxPath, true},
    {u"currentdirectory_w", Kind::Text, TEXT(remoteFolder), 0, false},
    {u"ip_mode", Kind::Number, NUMBER(serverMode), 0, true},
    {u"port_no", Kind::Number, NUMBER(port), 0, true},
    {u"ip_no1", Kind::Number, NUMBER(targetAddress[0]), 0, true},
    {u"ip_no2", Kind::Number, NUMBER(targetAddress[1]), 0, true},
    {u"ip_no3", Kind::Number, NUMBER(targetAddress[2]), 0, true},
    {u"ip_no4", Kind::Number, NUMBER(targetAddress[3]), 0, true},
    {u"sendreadmonitor_on", Kind::Number, NUMBER(monitorRecording), 0, true},
    {u"pc_name", Kind::Number, NUMBER(usePcName), 0, true},
    {u"pc_name_wcs[0].pn", Kind::Text, TEXT(pcNames[0]), kMaxPcName, true},
    {u"pc_name_wcs[1].pn", Kind::Text, TEXT(pcNames[1]), kMaxPcName, true},
    {u"pc_name_wcs[2].pn", Kind::Text, TEXT(pcNames[2]), kMaxPcName, true},
    {u"pc_name_wcs[3].pn", Kind::Text, TEXT(pcNames[3]), kMaxPcName, true},
    {u"pw_mode", Kind::Number, NUMBER(companionLaunch), 0, true},
    {u"dipa", Kind::Credential, TEXT(storedId), 0, true, DefaultId},
    {u"wppa", Kind::Credential, TEXT(storedPw), 0, true, DefaultPw},
    {u"doui_mode", Kind::Number, NUMBER(consent), 0, true},
    {u"fast_mode", Kind::Number, NUMBER(fastMode), 0, true},
    {u"login_required", Kind::Number, NUMBER(loginRequired), 0, true},
    {u"secure_peers", Kind::Text, TEXT(securePeers), kSecurePeersChars, true},
};

#undef NUMBER
#undef TEXT
#define NUMBER(field) [](CompanionSettings& c) { return &c.field; }, nullptr
#define TEXT(field) nullptr, [](CompanionSettings& c) { return &c.field; }

const Key<CompanionSettings> kCompanionKeys[] = {
    {u"moto_x", Kind::Number, NUMBER(x), 0, true},
    {u"moto_y", Kind::Number, NUMBER(y), 0, true},
    {u"id_time", Kind::Number, NUMBER(idTime), 0, true},
    {u"pw_time", Kind::Number, NUMBER(pwTime), 0, true},
    {u"id_wcs", Kind::Text, TEXT(adminId), kCompanionTextReadChars, true},
    {u"pw_wcs", Kind::Text, TEXT(adminPw), kCompanionTextReadChars, true},
};

#undef NUMBER
#undef TEXT

// A protected ID or PW as read (2047 characters at most).
constexpr std::size_t kProtectedTextChars = 2047;

u16 Decimal(int32_t value) { return FromAscii(std::to_string(value)); }

u16 Cut(u16 text, std::size_t maxChars) {
    if (text.size() > maxChars) text.resize(maxChars);
    return text;
}

template <typename Values>
void WriteKeys(IniSection& ini, const Key<Values>* keys, std::size_t count, Values& values,
               CredentialVault* vault) {
    for (std::size_t i = 0; i < count; ++i) {
        const Key<Values>& key = keys[i];
        switch (key.kind) {
            case Kind::Number: ini.WriteText(key.name, Decimal(*key.number(values))); break;
            case Kind::Text: ini.WriteText(key.name, *key.text(values)); break;
            case Kind::Credential: ini.WriteText(key.name, vault ? vault->Protect(*key.text(values)) : u16()); break;
        }
    }
}

}  // namespace

u16 DefaultId(const LocalDate& today) { return Cut(u"QB" + Decimal(today.year), kMaxCredential); }

u16 DefaultPw(const LocalDate& today) {
    return Cut(u"PW" + Decimal(today.month) + Decimal(today.day), kMaxCredential);
}

void LoadSettings(IniSection& ini, CredentialVault& vault, const LocalDate& today, Settings& settings) {
    Settings defaults;
    for (const Key<Settings>& key : kSettingsKeys) {
        if (!key.loaded) continue;
        switch (key.kind) {
            case Kind::Number: *key.number(settings) = ini.ReadInt(key.name, *key.number(defaults)); break;
            case Kind::Text: *key.text(settings) = ini.ReadText(key.name, *key.text(defaults), key.maxChars); break;
            case Kind::Credential: {
                u16& credential = *key.text(settings);
                const u16 text = ini.ReadText(key.name, u"", kProtectedTextChars);
                u16 plain;
                if (text.empty()) {
                    credential = key.dated(today);
                } else if (vault.Unprotect(text, plain)) {
                    credential = Cut(plain.substr(0, BoundedLength(plain.data(), plain.size())), kMaxCredential);
                }
                break;
            }
        }
    }
    settings.remoteFolder = kStartFolder;
}

void SaveSettings(IniSection& ini, CredentialVault& vault, const Settings& settings) {
    Settings copy = settings;
    WriteKeys(ini, kSettingsKeys, std::size(kSettingsKeys), copy, &vault);
}

void LoadCompanionSettings(IniSection& ini, CompanionSettings& companion) {
    CompanionSettings defaults;
    for (const Key<CompanionSettings>& key : kCompanionKeys) {
        if (key.kind == Kind::Number) *key.number(companion) = ini.ReadInt(key.name, *key.number(defaults));
        else *key.text(companion) = ini.ReadText(key.name, *key.text(defaults), key.maxChars);
    }
}

void SaveCompanionSettings(IniSection& ini, const CompanionSettings& companion) {
    CompanionSettings copy = companion;
    WriteKeys(ini, kCompanionKeys, std::size(kCompanionKeys), copy, nullptr);
}

void PlaceCompanion(CompanionSettings& companion, int32_t left, int32_t top) {
    // 64-bit so a far-left window cannot wrap around.
    const int64_t x = int64_t(left) - 300, y = int64_t(top) - 50;
    companion.x = int32_t(x > 0 ? x : 0);
    companion.y = int32_t(y > 0 ? y : 0);
}

int32_t ReadCompanionTime(u16view text) { return ParseLeadingInt(text.substr(0, kCompanionTimeEditChars)); }

}  // namespace quorbel
