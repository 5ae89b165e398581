// The main window's menu commands, pane notifications and menu enabling.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "app/msgbox.h"
#include "app/settings.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/command_rules.h"
#include "core/format_rules.h"
#include "core/protocol.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "panes/panes.h"
#include "res/resource.h"

namespace {

constexpr int32_t kWaiting = 0;
constexpr size_t kFolderRequestBytes = 276;

bool IsWaiting() { return CurrentOperationState() == kWaiting; }

int FirstSelectedRow(HWND pane) {
    return static_cast<int>(SendMessageW(pane, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void Deselect(HWND pane, int row) {
    LVITEMW item = {};
    item.stateMask = LVIS_FOCUSED | LVIS_SELECTED | LVIS_DROPHILITED;
    item.state = 0;
    SendMessageW(pane, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

// Folder path + "\" + name, joined exactly so (also at a drive root); false
// when the result would not fit a path buffer.
bool JoinFolderPath(const wchar_t* folder, const wchar_t* name, std::wstring& path) {
    auto joined = quorbel::NewFolderPath(AsU16View(folder), AsU16View(name));
    if (!joined) return false;
    path = ToWide(*joined);
    return true;
}

void RefusePathTooLong(HWND window, const wchar_t* caption) {
    ShowMessageBox(window, L"パスが長すぎるため作成できません", caption, MB_OK | MB_ICONWARNING);
}

void CopySelectedRows(HWND window, int direction) {
    HWND pane = direction == 0 ? g_shell.leftPane : g_shell.rightPane;
    g_shell.copyDirection = direction;
    g_shell.copyCancelled = 0;
    if (!IsWaiting()) {
        ShowMessageBox(window, L"他の動作中は出来ません", L"複写操作", MB_OK);
        return;
    }
    if (FirstSelectedRow(pane) == -1) {
        ShowMessageBox(window, L"項目を選んでください", L"複写操作", MB_OK);
        return;
    }
    const int rows = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    for (int pass = 0; pass < rows; ++pass) {
        int row = FirstSelectedRow(pane);
        if (row == -1) break;
        std::wstring size = PaneCellText(pane, row, 2, 63);
        if (!quorbel::CopySizeAllowed(AsU16View(size.c_str()))) {
            ShowMessageBox(nullptr, L"953Mbyteは出来ません", L"サイズ越え", MB_OK);
            Deselect(pane, row);
            continue;
        }
        std::wstring name = PaneCellText(pane, row, 0, kPathChars - 1);
        CopyText(g_shell.copyItemName, name.c_str());
        if (quorbel::IsDriveRoot(AsU16View(g_shell.copyItemName))) {
            ShowMessageBox(window, L"ドライブは選べません", L"複写操作", MB_OK);
            Deselect(pane, row);
            continue;
        }
        if (g_shell.copyCancelled == 0) RunCopyDialog(window, pass);
        Deselect(pane, row);
    }
    g_shell.copyCancelled = 0;
    if (IsWaiting()) {
        if (direction == 0) RequestRemoteListing(window);
        else ListLocalFolder(window);
    }
}

// Proposes the first selected row of `pane` as the new folder's name.
void ProposeFolderName(HWND pane) {
    g_shell.folderName[0] = L'\0';
    int row = FirstSelectedRow(pane);
    if (row >= 0) CopyText(g_shell.folderName, PaneCellText(pane, row, 0, kPathChars - 1).c_str());
}

void CreateLocalFolder(HWND window) {
    ProposeFolderName(g_shell.rightPane);
    RunFolderDialog(window);
    if (g_shell.folderName[0] == L'\0') return;
    std::wstring path;
    if (!JoinFolderPath(g_shell.localPath, g_shell.folderName, path)) {
        RefusePathTooLong(window, L"自分フォルダ作成");
        return;
    }
    CreateDirectoryW(path.c_str(), nullptr);
    ListLocalFolder(window);
}

void CreateRemoteFolder(HWND window) {
    ProposeFolderName(g_shell.leftPane);
    RunFolderDialog(window);
    if (g_shell.folderName[0] == L'\0') return;
    std::wstring path;
    std::string ansi;
    if (JoinFolderPath(g_shell.remotePath, g_shell.folderName, path))
        ansi = AnsiCodecForThread().ToAnsi(AsU16View(path.c_str()));
    // "CD", the path and a terminator must fit the request buffer.
    if (path.size() > kPathChars - 1 || ansi.empty() || 2 + ansi.size() + 1 > kFolderRequestBytes) {
        RefusePathTooLong(window, L"相手フォルダ作成");
        return;
    }
    // The protocol empties the right pane, enters FolderTO and sends "CD";
    // it refuses a path that the peer could not take (over 259 bytes).
    quorbel::Protocol& protocol = TheProtocol();
    protocol.SetRemoteFolderPath(AsU16View(g_shell.remotePath));
    if (protocol.StartCreateFolder(AsU16View(path.c_str())) == quorbel::kRequestTooLong) {
        RefusePathTooLong(window, L"相手フォルダ作成");
        return;
    }
    SetHeaderText(g_shell.remoteHeader, g_shell.remotePath);
}

void Connect(HWND window) {
    if (g_shell.serverMode) {
        StartServer(window);
    } else {
        if (!g_shell.commandMode && RunIdPwDialog(window, kIdPwLogin) == 1) {
            ShowMessageBox(window, L"IDまたはPWが違いますので接続しません", L"Login確認", MB_OK | MB_ICONQUESTION);
            return;
        }
        StartClient(window);
    }
    ShowConnectionHeader(1);
    RefreshStatusBar();
}

void Disconnect(HWND window) {
    if (g_shell.serverMode == 1 && g_shell.peerPresent == 1) {
        SendFrameBytes("CUT", 3);
        SetTimer(window, kCloseTimer, 1000, nullptr);
    } else {
        SetTimer(window, kCloseTimer, 100, nullptr);
    }
}

void ShowHostName(HWND window) {
    ReadHostInfo();
    std::wstring text = std::wstring(g_shell.localHostAddress) + L"\r\n" + g_shell.localHostName;
    ShowMessageBox(window, text.c_str(), L"HostName", MB_OK);
}

void CopyRowNameForPaste(HWND window, HWND pane) {
    int rows = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    int row = FirstSelectedRow(pane);
    if (row < 0 || row >= rows) return;
    CopyText(g_shell.pasteName, PaneCellText(pane, row, 0, kPathChars - 1).c_str());
    ShowMessageBox(window, L"コピーしました", g_shell.pasteName, MB_OK);
}

}  // namespace

void OnMainCommand(HWND window, int id) {
    switch (id) {
        case IDM_LOCAL_RELIST:
            if (IsWaiting()) ListLocalFolder(window);
            break;
        case IDM_LOCAL_ROOT:
            if (!IsWaiting()) break;
            CopyText(g_shell.localPath, L"C:\\");
            SetHeaderText(g_shell.localHeader, g_shell.localPath);
            ListLocalFolder(window);
            break;
        case IDM_REMOTE_RELIST:
            if (IsWaiting()) RequestRemoteListing(window);
            break;
        case IDM_REMOTE_ROOT:
            if (!IsWaiting()) break;
            CopyText(g_shell.remotePath, L"C:\\");
            RequestRemoteListing(window);
            break;
        case IDM_COPY_TO:
            CopySelectedRows(window, 0);
            break;
        case IDM_COPY_FROM:
            CopySelectedRows(window, 1);
            break;
        case IDM_LOCAL_MKDIR:
            CreateLocalFolder(window);
            break;
        case IDM_REMOTE_MKDIR:
            CreateRemoteFolder(window);
            break;
        case IDM_CONN_SETTINGS:
            RunConnectionSettingsDialog(window);
            SaveSettings();
            ShowConnectionHeader(0);
            break;
        case IDM_CONNECT:
            Connect(window);
            break;
        case IDM_DISCONNECT:
            Disconnect(window);
            break;
        case IDM_HOSTNAME:
            ShowHostName(window);
            break;
        case IDM_MON_RECEIVED:
            OpenMonitorWindow(window, kMonitorReceived);
            break;
        case IDM_MON_SENT:
            OpenMonitorWindow(window, kMonitorSent);
            break;
        case IDM_MON_DIRTABLE:
            OpenMonitorWindow(window, kMonitorDirectoryTable);
            break;
        case IDM_ENVIRONMENT:
            RunEnvironmentDialog(window);
            SaveSettings();
            break;
        case IDM_DOCUMENT:
            ShellExecuteW(window, L"open", L"Quorbel_manual.pdf", nullptr, nullptr, SW_SHOWNORMAL);
            break;
        case IDM_VERSION:
            ShowAboutBox(window);
            break;
        case IDM_EXIT:
            RequestExit(window);
            break;
        default:
            break;
    }
}

LRESULT OnMainNotify(HWND window, WPARAM wParam, LPARAM lParam) {
    const int id = static_cast<int>(wParam);
    if (id != IDC_LEFT_PANE && id != IDC_RIGHT_PANE) return 0;
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    HWND pane = id == IDC_LEFT_PANE ? g_shell.leftPane : g_shell.rightPane;
    switch (header->code) {
        case LVN_COLUMNCLICK:
            SortPane(pane, reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            return 0;
        case NM_RCLICK:
            CopyRowNameForPaste(window, pane);
            return 0;
        case NM_DBLCLK:
            if (id == IDC_LEFT_PANE) OpenLocalRow(window);
            else if (IsWaiting()) OpenRemoteRow(window);
            return 0;
        default:
            return DefWindowProcW(window, WM_NOTIFY, wParam, lParam);
    }
}

void OnInitMenuPopup(HMENU popup) {
    const UINT connected = g_shell.connectionOpen != 0 ? MF_ENABLED : MF_GRAYED;
    const UINT offline = g_shell.connectionOpen != 0 ? MF_GRAYED : MF_ENABLED;
    for (int id : {IDM_REMOTE_RELIST, IDM_REMOTE_ROOT, IDM_COPY_TO, IDM_COPY_FROM, IDM_REMOTE_MKDIR, IDM_DISCONNECT})
        EnableMenuItem(popup, id, MF_BYCOMMAND | connected);
    for (int id : {IDM_ENVIRONMENT, IDM_CONN_SETTINGS, IDM_CONNECT})
        EnableMenuItem(popup, id, MF_BYCOMMAND | offline);
    const UINT monitors = MonitorRecording() != 0 ? MF_ENABLED : MF_GRAYED;
    for (int id : {IDM_MON_RECEIVED, IDM_MON_SENT, IDM_MON_DIRTABLE})
        EnableMenuItem(popup, id, MF_BYCOMMAND | monitors);
}
