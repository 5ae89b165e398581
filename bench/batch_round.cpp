// One round of the batch measurement: Quorbel.exe's main window (this
// process, as Client of `quorbel-peer serve`, the fast mode) copies the
// folder "tree" of LOCAL_FOLDER to the peer's C:\ through the transfer
// dialog, then the peer's copy back into LOCAL_FOLDER\back. Prints the
// seconds of each way; bench/wine_batch.py runs it round by round beside
// quorbel-peer's own tree copies, the yardstick.
//
// Usage: batch_round.exe PORT LOCAL_FOLDER FILES (the peer's pair: 試験 / 合言葉)
#include <cstdio>

#include "win/dialogs/monitors.h"
#include "win/support.h"

namespace {

// Runs the copy command on the selected row; the seconds until the dialog's summary, and the summary.
double Batch(App& app, int command, std::wstring& summary) {
    static std::wstring* seen;
    static LARGE_INTEGER end;
    seen = &summary;
    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    DriveDialogs([&] { SendMessageW(app.window, WM_COMMAND, command, 0); }, [](HWND d, int) {
        PumpUntil([d] { return IsWindowEnabled(GetDlgItem(d, IDC_TRANSFER_CLOSE)) != FALSE; }, 600000);
        QueryPerformanceCounter(&end);
        *seen = Text(GetDlgItem(d, IDC_TRANSFER_SUMMARY));
        Click(d, IDC_TRANSFER_CLOSE);
    }, 600000);
    return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return std::fputs("usage: batch_round.exe PORT LOCAL_FOLDER FILES\n", stderr), 2;
    Boxes boxes;
    const std::wstring local = argv[2], expected = L"複写 " + std::wstring(argv[3]) + L" 件　スキップ 0 件　失敗 0 件";
    auto app = OpenMainWindow(local, {{L"port_no", argv[1]}}, false);
    DriveDialogs([&] { SendMessageW(app->window, WM_COMMAND, IDM_CONNECT, 0); }, [](HWND d, int) {
        SetDlgItemTextW(d, IDC_IDPW_ID, L"試験"), SetDlgItemTextW(d, IDC_IDPW_PW, L"合言葉"), Click(d, IDC_IDPW_OK);
    });
    // The peer lists this side once after the first listing: not across the copy.
    if (!PumpUntil([&] {
            return app->protocol().IsWaiting() && !MonitorRows(MonitorKind::DirectoryTable, app->protocol())[0].text.empty();
        }, 60000))
        return std::fputs("batch_round: the peer did not list this side\n", stderr), 1;
    std::wstring put, get;
    SelectRows(app->left.list, {RowOf(app->left.list, L"tree")});
    const double toPeer = Batch(*app, IDM_COPY_TO, put);
    CreateDirectoryW((local + L"\\back").c_str(), nullptr);
    app->settings.localFolder = AsU16View(local + L"\\back");
    ListLocalFolder(app->left, app->localHeader, app->settings.localFolder);
    PumpUntil([&] { return app->protocol().IsWaiting() && RowOf(app->right.list, L"tree") >= 0; }, 60000);
    SelectRows(app->right.list, {RowOf(app->right.list, L"tree")});
    const double fromPeer = Batch(*app, IDM_COPY_FROM, get);
    const bool whole = put.rfind(expected, 0) == 0 && get.rfind(expected, 0) == 0 && boxes.All().empty();
    if (!whole) std::fputs("batch_round: not every file was copied, or a box came\n", stderr);
    std::printf("put %.3f get %.3f\n", toPeer, fromPeer);
    return whole ? 0 : 1;
}
