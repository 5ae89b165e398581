// The connection settings dialog: Client or Server, how the Client finds the
// Server, the port, and the stored ID and PW behind "L" and "S".
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/format_rules.h"
#include "dialogs/dialogs.h"
#include "iptool/iptool.h"
#include "res/resource.h"

namespace {

constexpr int kOctetEdits[4] = {IDC_EDIT_231, IDC_EDIT_232, IDC_EDIT_233, IDC_EDIT_234};
constexpr int kPcNameEdits[4] = {IDC_EDIT_236, IDC_EDIT_237, IDC_EDIT_238, IDC_EDIT_239};
constexpr int kOctetReadChars = 3;
constexpr int kPortReadChars = 5;
constexpr int kPcNameReadChars = 253;

void Enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }

void SetNumber(HWND dialog, int id, int32_t value) {
    wchar_t text[16];
    swprintf(text, ARRAYSIZE(text), L"%d", static_cast<int>(value));
    SetDlgItemTextW(dialog, id, text);
}

// Reads at most `maxChars` characters of an edit as _wtoi does.
int32_t ReadNumber(HWND dialog, int id, int maxChars) {
    wchar_t text[8] = {};
    GetDlgItemTextW(dialog, id, text, maxChars + 1);
    return quorbel::ParseLeadingInt(AsU16View(text));
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// The ID and PW edits only display, and "S" stays off until "L" succeeds
// again; a Server only listens, so it needs neither address nor PC names.
void ApplyEnabling(HWND dialog) {
    Enable(dialog, IDC_EDIT_240, false);
    Enable(dialog, IDC_EDIT_241, false);
    Enable(dialog, IDC_BUTTON_206, false);
    const bool server = Checked(dialog, IDC_RADIO_222);
    const bool byAddress = Checked(dialog, IDC_RADIO_223);
    Enable(dialog, IDC_RADIO_223, !server);
    Enable(dialog, IDC_RADIO_224, !server);
    for (int id : kOctetEdits) Enable(dialog, id, !server && byAddress);
    for (int id : kPcNameEdits) Enable(dialog, id, !server && !byAddress);
}

void ShowStoredPair(HWND dialog) {
    SetDlgItemTextW(dialog, IDC_EDIT_240, g_shell.storedId);
    SetDlgItemTextW(dialog, IDC_EDIT_241, g_shell.storedPw);
}

void Initialise(HWND dialog) {
    CheckRadioButton(dialog, IDC_RADIO_221, IDC_RADIO_222, g_shell.serverMode == 1 ? IDC_RADIO_222 : IDC_RADIO_221);
    CheckRadioButton(dialog, IDC_RADIO_223, IDC_RADIO_224, g_settings.usePcName == 1 ? IDC_RADIO_224 : IDC_RADIO_223);
    for (int i = 0; i < 4; ++i) SetNumber(dialog, kOctetEdits[i], g_settings.targetAddress[i]);
    SetNumber(dialog, IDC_EDIT_235, g_settings.port);
    for (int i = 0; i < 4; ++i) SetDlgItemTextW(dialog, kPcNameEdits[i], g_settings.pcNames[i]);
    SetDlgItemTextW(dialog, IDC_EDIT_240, L"********");
    SetDlgItemTextW(dialog, IDC_EDIT_241, L"********");
    ApplyEnabling(dialog);
}

void TakeSettings(HWND dialog) {
    g_shell.serverMode = Checked(dialog, IDC_RADIO_221) ? 0 : 1;
    g_settings.usePcName = Checked(dialog, IDC_RADIO_223) ? 0 : 1;
    for (int i = 0; i < 4; ++i) g_settings.targetAddress[i] = ReadNumber(dialog, kOctetEdits[i], kOctetReadChars);
    g_settings.port = ReadNumber(dialog, IDC_EDIT_235, kPortReadChars);
    for (int i = 0; i < 4; ++i) {
        wchar_t(&slot)[kPcNameChars] = g_settings.pcNames[i];
        SecureZeroMemory(slot, sizeof slot);
        GetDlgItemTextW(dialog, kPcNameEdits[i], slot, kPcNameReadChars + 1);
    }
    // The next connection looks the peer's name up afresh.
    SecureZeroMemory(g_shell.peerHostName, sizeof g_shell.peerHostName);
}

void OnLogin(HWND dialog) {
    // Only an OK in the login dialog (0) reveals the pair.
    if (RunIdPwDialog(dialog, kIdPwLogin) != 0) {
        ShowMessageBox(dialog, L"IDまたはPWが違いますので接続しません", L"Login確認", MB_OK | MB_ICONQUESTION);
        return;
    }
    ShowStoredPair(dialog);
    Enable(dialog, IDC_BUTTON_206, true);
}

INT_PTR CALLBACK ConnectionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            Initialise(dialog);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_RADIO_221:
                case IDC_RADIO_222:
                case IDC_RADIO_223:
                case IDC_RADIO_224: {
                    // 223 and 224 sit in different groups, so each radio
                    // clears its partner itself.
                    static const int kPartner[] = {IDC_RADIO_222, IDC_RADIO_221, IDC_RADIO_224, IDC_RADIO_223};
                    const int partner = kPartner[LOWORD(wParam) - IDC_RADIO_221];
                    CheckRadioButton(dialog, partner, partner, 0);
                    ApplyEnabling(dialog);
                    return FALSE;
                }
                case IDC_BUTTON_201:
                    TakeSettings(dialog);
                    EndDialog(dialog, IDC_BUTTON_201);
                    return FALSE;
                case IDC_BUTTON_202:
                    EndDialog(dialog, IDC_BUTTON_202);
                    return FALSE;
                case IDC_BUTTON_203:
                    RunIpAddressDialog(dialog);
                    return FALSE;
                case IDC_BUTTON_204:
                    ShellExecuteW(dialog, L"open", L"control.exe", L"ncpa.cpl", nullptr, SW_SHOWNORMAL);
                    return FALSE;
                case IDC_BUTTON_205:
                    OnLogin(dialog);
                    return FALSE;
                case IDC_BUTTON_206:
                    RunIdPwDialog(dialog, kIdPwRegistration);
                    ShowStoredPair(dialog);
                    return FALSE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunConnectionSettingsDialog(HWND owner) {
    return DialogBoxParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_CONNECTION), owner, ConnectionDialogProc, 0);
}
