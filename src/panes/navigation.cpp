// Double-click navigation of both panes: into a folder, up a level, across
// drives. Both panes follow the same path rules; the left pane lists at once,
// the right pane asks the peer.
#include <windows.h>
#include <commctrl.h>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/path_rules.h"
#include "net/net.h"
#include "panes/panes.h"

namespace {

constexpr int32_t kCallDir = 1;

// Applies a double-click on `pane` to `path`. True when the pane must be
// listed afterwards (a move, or the file warning with the path unchanged).
bool OpenRow(HWND mainWindow, HWND pane, wchar_t (&path)[kPathChars]) {
    if (SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0) == 0) return false;
    int row = static_cast<int>(SendMessageW(pane, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    // Rows but none selected: there is no name to act on.
    if (row < 0) return false;
    std::wstring name = PaneCellText(pane, row, 0, kPathChars - 1);
    quorbel::RowOpenResult result = quorbel::OpenRowPath(AsU16View(path), AsU16View(name.c_str()));
    switch (result.outcome) {
        case quorbel::RowOpenOutcome::kNewPath:
            CopyText(path, AsWide(result.path.c_str()));
            return true;
        case quorbel::RowOpenOutcome::kFileWarning:
            ShowMessageBox(mainWindow, L"ファイルでフォルダではありません！", L"フォルダ移行", MB_OK | MB_ICONWARNING);
            return true;
        case quorbel::RowOpenOutcome::kTooLong:
            ShowMessageBox(mainWindow, L"パスが長すぎるためフォルダを移動できません", L"フォルダ移行",
                           MB_OK | MB_ICONWARNING);
            return false;
        case quorbel::RowOpenOutcome::kIgnored:
            break;
    }
    return false;
}

}  // namespace

void OpenLocalRow(HWND mainWindow) {
    if (OpenRow(mainWindow, g_shell.leftPane, g_shell.localPath)) ListLocalFolder(mainWindow);
}

void OpenRemoteRow(HWND mainWindow) {
    if (OpenRow(mainWindow, g_shell.rightPane, g_shell.remotePath)) RequestRemoteListing(mainWindow);
}

void RequestRemoteListing(HWND) {
    SendMessageW(g_shell.rightPane, LVM_DELETEALLITEMS, 0, 0);
    SetHeaderText(g_shell.remoteHeader, g_shell.remotePath);
    SetOperationState(kCallDir);
    RefreshStatusBar();
    SendListingRequestNow();
}
