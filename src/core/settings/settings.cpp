#include "core/settings/settings.h"

#include <string>

#include "core/panes/row_rules.h"
#include "core/protocol/login.h"

namespace quorbel {

namespace {

enum class Form { Number, Text, Credential };

// One key: where its value lives and how much of it is kept. Its default is
// what a default-constructed Values holds there.
template <typename Values>
struct Key {
    const char16_t* name;
    Form kind;
    int32_t* (*number)(Values&);
    u16* (*text)(Values&);
    std::size_t maxChars;  // text kept from the file
    bool loaded;           // false: written only
    u16 (*dated)(const LocalDate&) = nullptr;  // a credential's default, built from the date
};

#define NUMBER(field) [](Settings& s) { return &s.field; }, nullptr
#define TEXT(field) nullptr, [](Settings& s) { return &s.field; }

// pair_salt as kept; one character more is read, so that a longer text is
// not taken for a salt.
constexpr std::size_t kPairSaltChars = 2 * kServerSaltBytes;

// In the order the keys are written; loading reads them in the same order.
const Key<Settings> kSettingsKeys[] = {
    {u"currentdirectory_r", Form::Text, TEXT(localFolder), kMaxPath, true},
    {u"currentdirectory_w", Form::Text, TEXT(remoteFolder), 0, false},
    {u"ip_mode", Form::Number, NUMBER(serverMode), 0, true},
    {u"port_no", Form::Number, NUMBER(port), 0, true},
    {u"ip_no1", Form::Number, NUMBER(targetAddress[0]), 0, true},
    {u"ip_no2", Form::Number, NUMBER(targetAddress[1]), 0, true},
    {u"ip_no3", Form::Number, NUMBER(targetAddress[2]), 0, true},
    {u"ip_no4", Form::Number, NUMBER(targetAddress[3]), 0, true},
    {u"sendreadmonitor_on", Form::Number, NUMBER(monitorRecording), 0, true},
    {u"pc_name", Form::Number, NUMBER(usePcName), 0, true},
    {u"pc_name_wcs[0].pn", Form::Text, TEXT(pcNames[0]), kMaxPcName, true},
    {u"pc_name_wcs[1].pn", Form::Text, TEXT(pcNames[1]), kMaxPcName, true},
    {u"pc_name_wcs[2].pn", Form::Text, TEXT(pcNames[2]), kMaxPcName, true},
    {u"pc_name_wcs[3].pn", Form::Text, TEXT(pcNames[3]), kMaxPcName, true},
    {u"pw_mode", Form::Number, NUMBER(companionLaunch), 0, true},
    {u"dipa", Form::Credential, TEXT(storedId), 0, true, DefaultId},
    {u"wppa", Form::Credential, TEXT(storedPw), 0, true, DefaultPw},
    {u"doui_mode", Form::Number, NUMBER(consent), 0, true},
    {u"fast_mode", Form::Number, NUMBER(fastMode), 0, true},
    {u"login_required", Form::Number, NUMBER(loginRequired), 0, true},
    {kSecurePeersKey, Form::Text, TEXT(securePeers), kSecurePeersChars, true},
    {u"require_secure", Form::Number, NUMBER(requireSecure), 0, true},
    {kPairSaltKey, Form::Text, TEXT(pairSalt), kPairSaltChars + 1, true},
    {u"pair_proposed", Form::Number, NUMBER(pairProposed), 0, true},
};

#undef NUMBER
#undef TEXT
#define NUMBER(field) [](CompanionSettings& c) { return &c.field; }, nullptr
#define TEXT(field) nullptr, [](CompanionSettings& c) { return &c.field; }

const Key<CompanionSettings> kCompanionKeys[] = {
    {u"moto_x", Form::Number, NUMBER(x), 0, true},
    {u"moto_y", Form::Number, NUMBER(y), 0, true},
    {u"id_time", Form::Number, NUMBER(idTime), 0, true},
    {u"pw_time", Form::Number, NUMBER(pwTime), 0, true},
    {u"id_wcs", Form::Text, TEXT(adminId), kCompanionTextReadChars, true},
    {u"pw_wcs", Form::Text, TEXT(adminPw), kCompanionTextReadChars, true},
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
void WriteKey(IniSection& ini, const Key<Values>& key, Values& values, CredentialVault* vault) {
    switch (key.kind) {
        case Form::Number: ini.WriteText(key.name, Decimal(*key.number(values))); break;
        case Form::Text: ini.WriteText(key.name, *key.text(values)); break;
        case Form::Credential: ini.WriteText(key.name, vault ? vault->Protect(*key.text(values)) : u16()); break;
    }
}

template <typename Values>
void WriteKeys(IniSection& ini, const Key<Values>* keys, std::size_t count, Values& values,
               CredentialVault* vault) {
    for (std::size_t i = 0; i < count; ++i) WriteKey(ini, keys[i], values, vault);
}

// `text` is `prefix` and one digit or more, as the date's pair is.
bool DigitsAfter(u16view text, u16view prefix) {
    if (text.size() <= prefix.size() || text.substr(0, prefix.size()) != prefix) return false;
    for (char16_t c : text.substr(prefix.size()))
        if (c < u'0' || c > u'9') return false;
    return true;
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
            case Form::Number: *key.number(settings) = ini.ReadInt(key.name, *key.number(defaults)); break;
            case Form::Text: *key.text(settings) = ini.ReadText(key.name, *key.text(defaults), key.maxChars); break;
            case Form::Credential: {
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
    // A file of a release before the mark says nothing: a pair of the date's
    // form is taken for the proposed one, which it most likely is.
    if (!DigitsAfter(settings.storedId, u"QB") || !DigitsAfter(settings.storedPw, u"PW")) settings.pairProposed = 0;
}

void SaveSettings(IniSection& ini, CredentialVault& vault, const Settings& settings) {
    Settings copy = settings;
    WriteKeys(ini, kSettingsKeys, std::size(kSettingsKeys), copy, &vault);
}

void SaveSettingsKey(IniSection& ini, CredentialVault& vault, const Settings& settings, u16view key) {
    Settings copy = settings;
    for (const Key<Settings>& k : kSettingsKeys)
        if (key == k.name) WriteKey(ini, k, copy, &vault);
}

u16 PairSaltText(std::string_view salt) {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (salt.size() != kServerSaltBytes) return u16();
    u16 text;
    for (unsigned char b : salt) text += {char16_t(kDigits[b >> 4]), char16_t(kDigits[b & 15])};
    return text;
}

std::string PairSaltBytes(u16view text) {
    auto value = [](char16_t c) {
        return c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : -1;
    };
    if (text.size() != kPairSaltChars) return std::string();
    std::string salt;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = value(text[i]), low = value(text[i + 1]);
        if (high < 0 || low < 0) return std::string();
        salt.push_back(char(high << 4 | low));
    }
    return salt;
}

void LoadCompanionSettings(IniSection& ini, CompanionSettings& companion) {
    CompanionSettings defaults;
    for (const Key<CompanionSettings>& key : kCompanionKeys) {
        if (key.kind == Form::Number) *key.number(companion) = ini.ReadInt(key.name, *key.number(defaults));
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
