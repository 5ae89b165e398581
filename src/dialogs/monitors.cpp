// The three traffic monitors: received messages, sent messages and the
// directory table, redrawn from the stores every three seconds.
#include "dialogs/monitors.h"

#include <memory>

#include "app/shell.h"
#include "net/net.h"
#include "res/resource.h"

namespace {

constexpr UINT_PTR kRepaintTimer = 1;
constexpr UINT kRepaintMs = 3000;
// The directory table folds its 1024 slots into this many rows.
constexpr int kTableRows = 32;

void DrawMonitor(HWND window, MonitorKind kind) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    // The default font, black on opaque white, exactly as BeginPaint gives it.
    for (const MonitorRow& row : MonitorRows(kind))
        if (!row.text.empty()) TextOutW(dc, 0, row.y, row.text.c_str(), static_cast<int>(row.text.size()));
    EndPaint(window, &paint);
}

INT_PTR HandleMonitorMessage(HWND window, UINT message, WPARAM wParam, MonitorKind kind) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowTextW(window, MonitorTitle(kind));
            SetTimer(window, kRepaintTimer, kRepaintMs, nullptr);
            return TRUE;
        case WM_TIMER:
            if (wParam == kRepaintTimer) {
                // No erase: a shorter new text leaves the old tail visible.
                InvalidateRect(window, nullptr, FALSE);
                UpdateWindow(window);
            }
            return TRUE;
        case WM_PAINT:
            DrawMonitor(window, kind);
            return TRUE;
        case WM_CLOSE:
            // Modeless: ending it means destroying it, which also ends its timer.
            DestroyWindow(window);
            return TRUE;
        case WM_DESTROY:
            KillTimer(window, kRepaintTimer);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK ReceivedMonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    return HandleMonitorMessage(window, message, wParam, kMonitorReceived);
}

INT_PTR CALLBACK SentMonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    return HandleMonitorMessage(window, message, wParam, kMonitorSent);
}

INT_PTR CALLBACK TableMonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    return HandleMonitorMessage(window, message, wParam, kMonitorDirectoryTable);
}

template <int Slots, int Bytes>
void AppendRows(std::vector<MonitorRow>& rows, const char (*store)[Bytes], int rowCount) {
    rows.reserve(Slots);
    for (int slot = 0; slot < Slots; ++slot)
        rows.push_back({kMonitorRowPixels * (slot % rowCount), MonitorSlotText(store[slot], Bytes)});
}

}  // namespace

std::wstring MonitorSlotText(const char* slot, size_t slotBytes) {
    size_t length = 0;
    while (length < slotBytes && slot[length] != '\0') ++length;
    if (length == 0) return {};
    // One wide character per byte at most, so the slot always fits.
    std::wstring text(length, L'\0');
    int n = MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, slot, static_cast<int>(length), text.data(),
                                static_cast<int>(length));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (text.size() > kMonitorSlotTextChars) text.resize(kMonitorSlotTextChars);
    return text;
}

std::vector<MonitorRow> MonitorRows(MonitorKind kind) {
    std::vector<MonitorRow> rows;
    if (kind == kMonitorDirectoryTable) {
        auto table = std::make_unique<char[][kMonitorTableSlotBytes]>(kMonitorTableSlots);
        CopyDirectoryTableSlots(table.get());
        AppendRows<kMonitorTableSlots, kMonitorTableSlotBytes>(rows, table.get(), kTableRows);
    } else {
        auto ring = std::make_unique<char[][kMonitorRingSlotBytes]>(kMonitorRingSlots);
        if (kind == kMonitorReceived) CopyReceiveRingSlots(ring.get());
        else CopySendRingSlots(ring.get());
        AppendRows<kMonitorRingSlots, kMonitorRingSlotBytes>(rows, ring.get(), kMonitorRingSlots);
    }
    return rows;
}

const wchar_t* MonitorTitle(MonitorKind kind) {
    switch (kind) {
        case kMonitorSent: return L"送信データー表示";
        case kMonitorDirectoryTable: return L"DIRテーブル表示";
        case kMonitorReceived:
        default: return L"受信データー表示";
    }
}

HWND OpenMonitorWindow(HWND owner, MonitorKind kind) {
    DLGPROC proc = kind == kMonitorSent             ? SentMonitorProc
                   : kind == kMonitorDirectoryTable ? TableMonitorProc
                                                    : ReceivedMonitorProc;
    HWND window = CreateDialogParamW(g_shell.instance, MAKEINTRESOURCEW(IDD_MONITOR), owner, proc, 0);
    if (window) ShowWindow(window, SW_SHOWNORMAL);
    return window;
}
