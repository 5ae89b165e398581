// Double-click (and keyboard) navigation of both panes: into a folder, up a
// level, across drives. Both follow the same path rules; the left pane lists at once, the
// right pane asks the peer.
#include "core/base/limits.h"
#include "core/base/path_rules.h"
#include "win/panes/panes.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;

// What a double-click on the pane (or Enter) asks of `path`: the new path,
// or nothing (no rows, no selection, a path that would not fit). BackSpace
// asks the same of "..", as a double-click on that row would.
std::optional<quorbel::u16> OpenRow(HWND owner, HWND list, quorbel::u16view path, bool parent) {
    if (SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 0) return std::nullopt;
    const int row = parent ? -1 : FirstSelectedRow(list);
    if (row < 0 && !parent) return std::nullopt;  // rows but none selected: no name to act on
    const std::wstring name = parent ? L".." : PaneCellText(list, row, 0, quorbel::kMaxPath);
    const quorbel::RowOpenResult result = quorbel::OpenRowPath(path, AsU16View(name));
    switch (result.outcome) {
        case quorbel::RowOpenOutcome::kFileWarning:
            ShowBox(owner, texts::kNotAFolder, MB_OK | MB_ICONWARNING);
            [[fallthrough]];
        case quorbel::RowOpenOutcome::kNewPath:
            return result.path;
        case quorbel::RowOpenOutcome::kTooLong:
            ShowBox(owner, texts::kMovePathTooLong, MB_OK | MB_ICONWARNING);
            break;
        case quorbel::RowOpenOutcome::kIgnored:
            break;
    }
    return std::nullopt;
}

}  // namespace

void OpenLocalRow(HWND owner, Pane& left, HWND header, quorbel::u16& localPath, bool parent) {
    if (auto path = OpenRow(owner, left.list, localPath, parent)) {
        localPath = *path;
        ListLocalFolder(left, header, localPath);
    }
}

void OpenRemoteRow(HWND owner, Pane& right, HWND header, quorbel::Protocol& protocol, bool parent) {
    auto path = OpenRow(owner, right.list, protocol.RemoteFolderPath(), parent);
    // A folder the request could not carry is refused before anything moves.
    if (path && RequestRemoteListing(header, protocol, quorbel::u16view(*path)) == quorbel::kRequestTooLong)
        ShowBox(owner, texts::kMovePathTooLong, MB_OK | MB_ICONWARNING);
}

int RequestRemoteListing(HWND header, quorbel::Protocol& protocol, std::optional<quorbel::u16view> folder) {
    const int result = folder ? protocol.StartListing(*folder) : protocol.StartListing();
    if (result != quorbel::kRequestTooLong) SetWindowTextW(header, ToWide(protocol.RemoteFolderPath()).c_str());
    return result;
}
