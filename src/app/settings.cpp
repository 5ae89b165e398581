#include "app/settings.h"

#include <windows.h>

#include <cstdio>

#include "app/credentials.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/settings_rules.h"
#include "net/net.h"

using quorbel::CopyBounded;

namespace {

const wchar_t kSection[] = L"Quorbel_setting";

int ReadInt(const std::wstring& file, const wchar_t* key, int fallback) {
    return static_cast<int>(GetPrivateProfileIntW(kSection, key, fallback, file.c_str()));
}

void WriteInt(const std::wstring& file, const wchar_t* key, int value) {
    wchar_t text[16];
    swprintf(text, ARRAYSIZE(text), L"%d", value);
    WritePrivateProfileStringW(kSection, key, text, file.c_str());
}

std::wstring PcNameKey(int index) {
    wchar_t key[32];
    swprintf(key, ARRAYSIZE(key), L"pc_name_wcs[%d].pn", index);
    return key;
}

// dipa / wppa: an empty value gives the run-time default; a value that cannot
// be unprotected (another user, a damaged text) leaves the credential as it is.
void ReadCredential(const std::wstring& file, const wchar_t* key, const std::wstring& fallback,
                    wchar_t (&credential)[kCredentialChars]) {
    wchar_t text[2048] = {};
    GetPrivateProfileStringW(kSection, key, L"", text, ARRAYSIZE(text), file.c_str());
    if (text[0] == L'\0') {
        CopyBounded<wchar_t>(credential, kCredentialChars, fallback);
        return;
    }
    std::wstring plain;
    if (UnprotectCredential(text, plain)) CopyBounded<wchar_t>(credential, kCredentialChars, plain);
}

}  // namespace

std::wstring SettingsFilePath() {
    return std::wstring(g_shell.startupFolder) + L"\\Quorbel.ini";
}

void LoadSettings() {
    const std::wstring file = SettingsFilePath();

    wchar_t path[kPathChars] = {};
    GetPrivateProfileStringW(kSection, L"currentdirectory_r", L"C:\\", path, kPathChars, file.c_str());
    CopyBounded<wchar_t>(g_shell.localPath, kPathChars, path);
    CopyBounded<wchar_t>(g_shell.remotePath, kPathChars, std::wstring_view(L"C:\\"));

    g_shell.serverMode = ReadInt(file, L"ip_mode", 0);
    g_settings.port = ReadInt(file, L"port_no", quorbel::kDefaultPort);
    static const wchar_t* const kOctetKeys[4] = {L"ip_no1", L"ip_no2", L"ip_no3", L"ip_no4"};
    for (int i = 0; i < 4; ++i)
        g_settings.targetAddress[i] = ReadInt(file, kOctetKeys[i], quorbel::kDefaultTargetAddress[i]);
    SetMonitorRecording(ReadInt(file, L"sendreadmonitor_on", 0));
    g_settings.usePcName = ReadInt(file, L"pc_name", 0);
    for (int i = 0; i < 4; ++i) {
        wchar_t name[kPcNameChars] = {};
        GetPrivateProfileStringW(kSection, PcNameKey(i).c_str(), L"", name, kPcNameChars, file.c_str());
        CopyBounded<wchar_t>(g_settings.pcNames[i], kPcNameChars, name);
    }
    g_settings.companionLaunch = ReadInt(file, L"pw_mode", 0);

    SYSTEMTIME now;
    GetLocalTime(&now);
    ReadCredential(file, L"dipa", ToWide(quorbel::DefaultId(now.wYear)), g_shell.storedId);
    ReadCredential(file, L"wppa", ToWide(quorbel::DefaultPw(now.wMonth, now.wDay)), g_shell.storedPw);
    g_settings.consent = ReadInt(file, L"doui_mode", 0);
}

void SaveSettings() {
    const std::wstring file = SettingsFilePath();
    WritePrivateProfileStringW(kSection, L"currentdirectory_r", g_shell.localPath, file.c_str());
    WritePrivateProfileStringW(kSection, L"currentdirectory_w", g_shell.remotePath, file.c_str());
    WriteInt(file, L"ip_mode", g_shell.serverMode);
    WriteInt(file, L"port_no", g_settings.port);
    WriteInt(file, L"ip_no1", g_settings.targetAddress[0]);
    WriteInt(file, L"ip_no2", g_settings.targetAddress[1]);
    WriteInt(file, L"ip_no3", g_settings.targetAddress[2]);
    WriteInt(file, L"ip_no4", g_settings.targetAddress[3]);
    WriteInt(file, L"sendreadmonitor_on", MonitorRecording());
    WriteInt(file, L"pc_name", g_settings.usePcName);
    for (int i = 0; i < 4; ++i)
        WritePrivateProfileStringW(kSection, PcNameKey(i).c_str(), g_settings.pcNames[i], file.c_str());
    WriteInt(file, L"pw_mode", g_settings.companionLaunch);
    WritePrivateProfileStringW(kSection, L"dipa", ProtectCredential(g_shell.storedId).c_str(), file.c_str());
    WritePrivateProfileStringW(kSection, L"wppa", ProtectCredential(g_shell.storedPw).c_str(), file.c_str());
    WriteInt(file, L"doui_mode", g_settings.consent);
}
