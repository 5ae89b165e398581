// The main window's menu commands, pane notifications and menu enabling.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "win/app/app.h"
#include "core/panes/command_rules.h"
#include "core/panes/row_rules.h"
#include "core/base/path_rules.h"
#include "win/dialogs/dialogs.h"
#include "win/iptool/iptool.h"
#include "win/res/resource.h"
#include "win/base/msgbox.h"
#include "win/base/win_files.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;

constexpr int kSizeTextChars = 63;
// The manual, beside the program as the package puts it.
constexpr wchar_t kManualFile[] = L"Quorbel_manual.pdf";
constexpr int kNameChars = static_cast<int>(quorbel::kMaxPath);

// The selected rows of a pane, as it shows them.
std::vector<std::pair<int, quorbel::PaneRow>> SelectedRows(HWND list) {
    std::vector<std::pair<int, quorbel::PaneRow>> selected;
    for (int row = -1; (row = int(SendMessageW(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) != -1;) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        quorbel::PaneRow pane;
        pane.name = AsU16View(PaneCellText(list, row, 0, kNameChars));
        pane.date = AsU16View(PaneCellText(list, row, 1, kSizeTextChars));
        pane.size = AsU16View(PaneCellText(list, row, 2, kSizeTextChars));
        pane.image = item.iImage;
        selected.emplace_back(row, std::move(pane));
    }
    return selected;
}

std::vector<quorbel::PaneRow> LocalFolderRows(quorbel::u16view folder) {
    WinFolderSource source;
    std::vector<quorbel::PaneRow> rows;
    quorbel::CollectFolderRows(source, folder, [&](const quorbel::PaneRow& row) { return rows.push_back(row), true; });
    return rows;
}

// The row of that name with what its listing knew beyond the texts, or the row as shown.
quorbel::PaneRow Fuller(const quorbel::PaneRow& shown, const std::vector<quorbel::PaneRow>& listed) {
    for (const quorbel::PaneRow& row : listed)
        if (row.name == shown.name && row.image == shown.image) return row;
    return shown;
}

void RelistAfterCopy(App& app, bool toPeer) {
    if (!app.protocol().IsWaiting()) return;
    if (toPeer) RequestRemoteListing(app.remoteHeader, app.protocol());
    else ListLocalFolder(app.left, app.localHeader, app.settings.localFolder);
}

// 105 and 106: one selected file in the copy dialog; more rows, or any
// folder, as one batch in the transfer dialog.
void CopySelectedRows(App& app, bool toPeer) {
    HWND list = toPeer ? app.left.list : app.right.list;
    quorbel::Protocol& protocol = app.protocol();
    if (!protocol.IsWaiting()) {
        ShowBox(app.window, texts::kCopyBusy, MB_OK);
        return;
    }
    auto selected = SelectedRows(list);
    if (selected.empty()) {
        ShowBox(app.window, texts::kCopyNothingSelected, MB_OK);
        return;
    }
    const std::wstring local = ToWide(app.settings.localFolder), remote = ToWide(protocol.RemoteFolderPath());
    const std::vector<quorbel::PaneRow> localRows = LocalFolderRows(app.settings.localFolder);
    const std::vector<quorbel::PaneRow> peerRows = app.transferFeed.Rows();
    for (auto& [row, pane] : selected) pane = Fuller(pane, toPeer ? localRows : peerRows);
    for (auto& [row, pane] : selected) DeselectRow(list, row);
    // Drives are no entries to copy.
    const auto drives = std::remove_if(selected.begin(), selected.end(), [](const auto& s) {
        return quorbel::IsDriveRoot(s.second.name) || quorbel::IsDriveImage(s.second.image);
    });
    if (drives != selected.end()) {
        selected.erase(drives, selected.end());
        ShowBox(app.window, texts::kCopyDrive, MB_OK);
    }
    if (selected.empty()) return;
    if (selected.size() > 1 || selected[0].second.image == quorbel::kImageFolder) {
        TransferRequest request{protocol, app.transferFeed, toPeer, toPeer ? local : remote, toPeer ? remote : local};
        for (const auto& s : selected) request.rows.push_back(s.second);
        request.destinationRows = toPeer ? peerRows : localRows;
        request.remoteFolder = remote;
        RunTransferDialog(app.window, request);
        // The dialog listed the peer's folder again as its last step.
        if (!toPeer) RelistAfterCopy(app, false);
        return;
    }
    const quorbel::PaneRow& file = selected[0].second;
    const std::wstring name = ToWide(file.name);
    if (!quorbel::CopySizeAllowed(file.size, protocol.MaxCopyBytes())) {
        const quorbel::u16 limit = quorbel::SizeLimitText(protocol.MaxCopyBytes());
        ShowBox(nullptr, texts::kCopyTooLarge, MB_OK, {quorbel::u16view(limit)});
        return;
    }
    if (!toPeer && !quorbel::IsPlainFileName(file.name)) {
        // The peer chose the name: one that would land outside this
        // folder, or on a device, is refused before anything is written.
        ShowBox(app.window, texts::kCopyPeerNameRefused, MB_OK | MB_ICONWARNING, {quorbel::u16view(file.name)});
        return;
    }
    CopyRequest request{protocol, toPeer, toPeer ? local : remote, toPeer ? remote : local, name};
    request.bytes = file.exact ? file.bytes : quorbel::SizeTextBytes(file.size);
    RunCopyDialog(app.window, request);
    // A closed dialog alone does not tell a copy that landed from one that did not.
    if (request.notDone) ShowBox(app.window, texts::kCopyNotDone, MB_OK | MB_ICONWARNING, {quorbel::u16view(file.name)});
    // A request that could not be sent leaves nothing to list on a broken connection.
    if (!request.requestFailed) RelistAfterCopy(app, toPeer);
}

// 107 and 108: the name proposed from the other pane's selected row, or nothing.
std::wstring AskFolderName(App& app, HWND proposingPane) {
    FolderRequest request{L"", app.pasteName, app.settings.localFolder.size()};
    const int row = FirstSelectedRow(proposingPane);
    if (row >= 0) request.name = PaneCellText(proposingPane, row, 0, kNameChars);
    RunFolderDialog(app.window, request);
    return request.name;
}

void CreateLocalFolder(App& app) {
    const std::wstring name = AskFolderName(app, app.right.list);
    if (name.empty()) return;
    // Joined exactly so, also at a drive root (C:\\new).
    const auto path = quorbel::JoinPath(app.settings.localFolder, AsU16View(name));
    if (!path) {
        ShowBox(app.window, texts::kLocalFolderPathTooLong, MB_OK | MB_ICONWARNING);
        return;
    }
    CreateDirectoryW(AsWide(path->c_str()), nullptr);
    ListLocalFolder(app.left, app.localHeader, app.settings.localFolder);
}

void CreateRemoteFolder(App& app) {
    const std::wstring name = AskFolderName(app, app.left.list);
    if (name.empty()) return;
    quorbel::Protocol& protocol = app.protocol();
    const auto path = quorbel::JoinPath(protocol.RemoteFolderPath(), AsU16View(name));
    // The protocol empties the right pane, enters FolderTO and sends "CD";
    // it refuses a path whose request would not fit.
    if (!path || protocol.StartCreateFolder(*path) == quorbel::kRequestTooLong) {
        ShowBox(app.window, texts::kRemoteFolderPathTooLong, MB_OK | MB_ICONWARNING);
        return;
    }
    SetWindowTextW(app.remoteHeader, ToWide(protocol.RemoteFolderPath()).c_str());
}

void Connect(App& app) {
    if (!app.settings.IsServer() && !app.commandMode &&
        RunIdPwDialog(app.window, IdPwMode::Login, {app.settings.storedId, app.settings.storedPw},
                      {app.loginId, app.loginPw}) == DialogAnswer::Closed) {
        ShowBox(app.window, texts::kLoginNotConfirmed, MB_OK | MB_ICONQUESTION);
        return;
    }
    app.Connect();
    app.ShowConnectionHeader(true);
    app.RefreshStatusBar();
}

void ConnectionSettings(App& app) {
    IpToolValues ipTool{app.startupFolder, app.settings.companionLaunch, app.companion};
    ConnectionDialogValues values{app.settings, {app.loginId, app.loginPw}, app.peerHostName,
                                  [&ipTool](HWND owner) { RunIpAddressDialog(owner, ipTool); }};
    const quorbel::u16 id = app.settings.storedId, pw = app.settings.storedPw;
    RunConnectionSettingsDialog(app.window, values);
    if (app.settings.storedId != id || app.settings.storedPw != pw) app.PairSet(true);
    // Saved whatever closed it: a pair changed with "S" stays changed.
    app.SaveSettings();
    app.ShowConnectionHeader(false);
}

void Environment(App& app) {
    EnvironmentValues values{app.settings.monitorRecording, app.settings.loginRequired, app.settings.requireSecure};
    RunEnvironmentDialog(app.window, values);
    app.SaveSettings();
}

void CopyRowNameForPaste(App& app, HWND list) {
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    const int row = FirstSelectedRow(list);
    if (row < 0 || row >= rows) return;
    app.pasteName = PaneCellText(list, row, 0, kNameChars);
    ShowBox(app.window, texts::kNameCopied, MB_OK, {}, app.pasteName.c_str());
}

}  // namespace

void OnMainCommand(App& app, int id) {
    quorbel::Protocol& protocol = app.protocol();
    switch (id) {
        case IDM_LOCAL_RELIST:
            if (protocol.IsWaiting()) ListLocalFolder(app.left, app.localHeader, app.settings.localFolder);
            break;
        case IDM_LOCAL_ROOT:
            if (!protocol.IsWaiting()) break;
            app.settings.localFolder = quorbel::kStartFolder;
            ListLocalFolder(app.left, app.localHeader, app.settings.localFolder);
            break;
        case IDM_REMOTE_RELIST:
            if (protocol.IsWaiting()) RequestRemoteListing(app.remoteHeader, protocol);
            break;
        case IDM_REMOTE_ROOT:
            if (protocol.IsWaiting()) RequestRemoteListing(app.remoteHeader, protocol, quorbel::kStartFolder);
            break;
        case IDM_COPY_TO: CopySelectedRows(app, true); break;
        case IDM_COPY_FROM: CopySelectedRows(app, false); break;
        case IDM_LOCAL_MKDIR: CreateLocalFolder(app); break;
        case IDM_REMOTE_MKDIR: CreateRemoteFolder(app); break;
        case IDM_CONN_SETTINGS: ConnectionSettings(app); break;
        case IDM_CONNECT: Connect(app); break;
        case IDM_DISCONNECT: app.CloseSoon(); break;
        case IDM_HOSTNAME:
            ReadHostInfo(app.localHostAddress, app.localHostName);
            ShowBox(app.window, texts::kHostName, MB_OK,
                    {AsU16View(app.localHostAddress), AsU16View(app.localHostName)});
            break;
        case IDM_MON_RECEIVED: OpenMonitorWindow(app.window, MonitorKind::Received, protocol); break;
        case IDM_MON_SENT: OpenMonitorWindow(app.window, MonitorKind::Sent, protocol); break;
        case IDM_MON_DIRTABLE: OpenMonitorWindow(app.window, MonitorKind::DirectoryTable, protocol); break;
        case IDM_ENVIRONMENT: Environment(app); break;
        case IDM_DOCUMENT:
            // Said when nothing opens it (no manual beside the program, no PDF viewer), not silently ignored.
            if (reinterpret_cast<INT_PTR>(ShellExecuteW(app.window, L"open", kManualFile, nullptr, nullptr,
                                                        SW_SHOWNORMAL)) <= 32)
                ShowBox(app.window, texts::kDocumentNotOpened, MB_OK | MB_ICONWARNING, {AsU16View(kManualFile)});
            break;
        case IDM_VERSION: ShowAboutBox(app.window); break;
        case IDM_EXIT: app.RequestExit(); break;
        default: break;
    }
}

LRESULT OnMainNotify(App& app, WPARAM wParam, LPARAM lParam) {
    const int id = static_cast<int>(wParam);
    if (id != IDC_LEFT_PANE && id != IDC_RIGHT_PANE) return 0;
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    Pane& pane = id == IDC_LEFT_PANE ? app.left : app.right;
    switch (header->code) {
        case LVN_COLUMNCLICK:
            SortPane(pane, reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem, app.window);
            return 0;
        case NM_RCLICK:
            CopyRowNameForPaste(app, pane.list);
            return 0;
        case NM_DBLCLK:
        case NM_RETURN:  // Enter opens the selected row as a double-click does
            if (id == IDC_LEFT_PANE) OpenLocalRow(app.window, app.left, app.localHeader, app.settings.localFolder);
            else if (app.protocol().IsWaiting()) OpenRemoteRow(app.window, app.right, app.remoteHeader, app.protocol());
            return 0;
        case LVN_KEYDOWN: {
            // BackSpace goes up a level, F5 lists the folder again, as a file manager does.
            // The peer's pane only while connected, as its menu commands.
            const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey;
            const bool left = id == IDC_LEFT_PANE;
            if (!left && !app.connection.IsOpen()) return 0;
            if (key == VK_F5) OnMainCommand(app, left ? IDM_LOCAL_RELIST : IDM_REMOTE_RELIST);
            if (key != VK_BACK) return 0;
            if (left) OpenLocalRow(app.window, app.left, app.localHeader, app.settings.localFolder, true);
            else if (app.protocol().IsWaiting()) OpenRemoteRow(app.window, app.right, app.remoteHeader, app.protocol(), true);
            return 0;
        }
        default:
            return DefWindowProcW(app.window, WM_NOTIFY, wParam, lParam);
    }
}

void OnInitMenuPopup(App& app, HMENU popup) {
    const bool connected = app.connection.IsOpen();
    for (int id : {IDM_REMOTE_RELIST, IDM_REMOTE_ROOT, IDM_COPY_TO, IDM_COPY_FROM, IDM_REMOTE_MKDIR, IDM_DISCONNECT})
        EnableMenuItem(popup, id, MF_BYCOMMAND | (connected ? MF_ENABLED : MF_GRAYED));
    for (int id : {IDM_ENVIRONMENT, IDM_CONN_SETTINGS, IDM_CONNECT})
        EnableMenuItem(popup, id, MF_BYCOMMAND | (connected ? MF_GRAYED : MF_ENABLED));
    const bool monitors = app.settings.monitorRecording != 0;
    for (int id : {IDM_MON_RECEIVED, IDM_MON_SENT, IDM_MON_DIRTABLE})
        EnableMenuItem(popup, id, MF_BYCOMMAND | (monitors ? MF_ENABLED : MF_GRAYED));
}
