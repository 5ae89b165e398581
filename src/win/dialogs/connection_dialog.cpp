// The connection settings dialog: Client or Server, how the Client finds the
// Server, the port, and the stored ID and PW behind "L" and "S".
#include <windows.h>
#include <shellapi.h>

#include "core/panes/row_rules.h"
#include "win/base/dialog_state.h"
#include "win/dialogs/dialogs.h"
#include "win/res/resource.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

namespace {

constexpr int kOctetEdits[4] = {IDC_CONN_OCTET1, IDC_CONN_OCTET2, IDC_CONN_OCTET3, IDC_CONN_OCTET4};
constexpr int kPcNameEdits[quorbel::kPcNameCount] = {IDC_CONN_PCNAME1, IDC_CONN_PCNAME2, IDC_CONN_PCNAME3,
                                                     IDC_CONN_PCNAME4};
constexpr int kOctetReadChars = 3;
constexpr int kPortReadChars = 5;
constexpr int kPcNameReadChars = 253;

void Enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

int32_t ReadNumber(HWND dialog, int id, int maxChars) {
    return quorbel::ParseLeadingInt(AsU16View(ItemText(dialog, id, maxChars)));
}

// The ID and PW edits only display, and "S" stays off until "L" succeeds
// again; a Server only listens, so it needs neither address nor PC names.
void ApplyEnabling(HWND dialog) {
    Enable(dialog, IDC_CONN_ID, false);
    Enable(dialog, IDC_CONN_PW, false);
    Enable(dialog, IDC_CONN_CHANGE_PAIR, false);
    const bool server = Checked(dialog, IDC_CONN_SERVER);
    const bool byAddress = Checked(dialog, IDC_CONN_BY_ADDRESS);
    Enable(dialog, IDC_CONN_BY_ADDRESS, !server);
    Enable(dialog, IDC_CONN_BY_NAME, !server);
    for (int id : kOctetEdits) Enable(dialog, id, !server && byAddress);
    for (int id : kPcNameEdits) Enable(dialog, id, !server && !byAddress);
}

void ShowStoredPair(HWND dialog, const quorbel::Settings& s) {
    SetDlgItemTextW(dialog, IDC_CONN_ID, ToWide(s.storedId).c_str());
    SetDlgItemTextW(dialog, IDC_CONN_PW, ToWide(s.storedPw).c_str());
}

void Initialise(HWND dialog, const quorbel::Settings& s) {
    CheckRadioButton(dialog, IDC_CONN_CLIENT, IDC_CONN_SERVER, s.IsServer() ? IDC_CONN_SERVER : IDC_CONN_CLIENT);
    CheckRadioButton(dialog, IDC_CONN_BY_ADDRESS, IDC_CONN_BY_NAME,
                     s.usePcName == 1 ? IDC_CONN_BY_NAME : IDC_CONN_BY_ADDRESS);
    for (int i = 0; i < 4; ++i) SetDlgItemTextW(dialog, kOctetEdits[i], Decimal(s.targetAddress[i]).c_str());
    SetDlgItemTextW(dialog, IDC_CONN_PORT, Decimal(s.port).c_str());
    for (size_t i = 0; i < s.pcNames.size(); ++i)
        SetDlgItemTextW(dialog, kPcNameEdits[i], ToWide(s.pcNames[i]).c_str());
    SetDlgItemTextW(dialog, IDC_CONN_ID, L"********");
    SetDlgItemTextW(dialog, IDC_CONN_PW, L"********");
    ApplyEnabling(dialog);
}

void TakeSettings(HWND dialog, ConnectionDialogValues& v) {
    quorbel::Settings& s = v.settings;
    s.serverMode = Checked(dialog, IDC_CONN_CLIENT) ? 0 : 1;
    s.usePcName = Checked(dialog, IDC_CONN_BY_ADDRESS) ? 0 : 1;
    for (int i = 0; i < 4; ++i) s.targetAddress[i] = ReadNumber(dialog, kOctetEdits[i], kOctetReadChars);
    s.port = ReadNumber(dialog, IDC_CONN_PORT, kPortReadChars);
    for (size_t i = 0; i < s.pcNames.size(); ++i)
        s.pcNames[i] = AsU16View(ItemText(dialog, kPcNameEdits[i], kPcNameReadChars));
    // The next connection looks the peer's name up afresh.
    v.peerHostName.clear();
}

// "L": the stored pair is shown, and "S" offered, to whoever types it.
void OnShowPair(HWND dialog, ConnectionDialogValues& v) {
    const bool typed = RunIdPwDialog(dialog, IdPwMode::Login, {v.settings.storedId, v.settings.storedPw}, v.login) ==
                       DialogAnswer::Ok;
    if (!typed || v.login.id != v.settings.storedId || v.login.pw != v.settings.storedPw) {
        ShowBox(dialog, quorbel::texts::kLoginNotConfirmed, MB_OK | MB_ICONQUESTION);
        return;
    }
    ShowStoredPair(dialog, v.settings);
    Enable(dialog, IDC_CONN_CHANGE_PAIR, true);
}

INT_PTR CALLBACK ConnectionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        KeepDialogState(dialog, reinterpret_cast<ConnectionDialogValues*>(lParam));
        Initialise(dialog, DialogState<ConnectionDialogValues>(dialog).settings);
        return TRUE;
    }
    if (GetWindowLongPtrW(dialog, DWLP_USER) == 0) return FALSE;
    ConnectionDialogValues& v = DialogState<ConnectionDialogValues>(dialog);
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_CONN_CLIENT:
                case IDC_CONN_SERVER:
                case IDC_CONN_BY_ADDRESS:
                case IDC_CONN_BY_NAME: {
                    // The two pairs sit in different groups, so each radio
                    // clears its partner itself.
                    static const int kPartner[] = {IDC_CONN_SERVER, IDC_CONN_CLIENT, IDC_CONN_BY_NAME,
                                                   IDC_CONN_BY_ADDRESS};
                    const int partner = kPartner[LOWORD(wParam) - IDC_CONN_CLIENT];
                    CheckRadioButton(dialog, partner, partner, 0);
                    ApplyEnabling(dialog);
                    return FALSE;
                }
                case IDC_CONN_OK:
                    TakeSettings(dialog, v);
                    EndDialog(dialog, static_cast<INT_PTR>(DialogAnswer::Ok));
                    return FALSE;
                case IDC_CONN_CANCEL:
                    EndDialog(dialog, static_cast<INT_PTR>(DialogAnswer::Cancel));
                    return FALSE;
                case IDC_CONN_ADAPTER_IP:
                    if (v.openIpTool) v.openIpTool(dialog);
                    return FALSE;
                case IDC_CONN_ADAPTER_LIST:
                    ShellExecuteW(dialog, L"open", L"control.exe", L"ncpa.cpl", nullptr, SW_SHOWNORMAL);
                    return FALSE;
                case IDC_CONN_SHOW_PAIR:
                    OnShowPair(dialog, v);
                    return FALSE;
                case IDC_CONN_CHANGE_PAIR:
                    RunIdPwDialog(dialog, IdPwMode::Registration, {v.settings.storedId, v.settings.storedPw}, v.login);
                    ShowStoredPair(dialog, v.settings);
                    return FALSE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, static_cast<INT_PTR>(DialogAnswer::Closed));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

DialogAnswer RunConnectionSettingsDialog(HWND owner, ConnectionDialogValues& values) {
    return static_cast<DialogAnswer>(DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_CONNECTION), owner,
                                                     ConnectionDialogProc, reinterpret_cast<LPARAM>(&values)));
}
