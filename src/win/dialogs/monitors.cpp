// The three traffic monitors: received messages, sent messages and the
// directory table, redrawn from the protocol's stores every three seconds.
#include "win/dialogs/monitors.h"

#include <memory>

#include "win/base/dialog_state.h"
#include "win/res/resource.h"
#include "win/base/wintext.h"

namespace {

constexpr UINT_PTR kRepaintTimer = 1;
constexpr UINT kRepaintMs = 3000;
constexpr int kRowPixels = 20;
constexpr int kTableRows = 32;
constexpr size_t kSlotTextChars = 256;

struct MonitorState {
    MonitorKind kind;
    const quorbel::Protocol& protocol;
};

std::wstring SlotText(const char* slot, size_t slotBytes) {
    const size_t length = quorbel::BoundedLength(slot, slotBytes);
    std::wstring text = ToWide(AnsiCodecForThread().FromAnsi(std::string_view(slot, length)));
    if (text.size() > kSlotTextChars) text.resize(kSlotTextChars);
    return text;
}

template <int Slots, int Bytes>
void AppendRows(std::vector<MonitorRow>& rows, const char (*store)[Bytes], int rowCount) {
    for (int slot = 0; slot < Slots; ++slot) rows.push_back({kRowPixels * (slot % rowCount), SlotText(store[slot], Bytes)});
}

const wchar_t* Title(MonitorKind kind) {
    switch (kind) {
        case MonitorKind::Sent: return L"送信データー表示";
        case MonitorKind::DirectoryTable: return L"DIRテーブル表示";
        default: return L"受信データー表示";
    }
}

void Draw(HWND window, const MonitorState& s) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    // The default font, black on opaque white, exactly as BeginPaint gives it.
    for (const MonitorRow& row : MonitorRows(s.kind, s.protocol))
        if (!row.text.empty()) TextOutW(dc, 0, row.y, row.text.c_str(), static_cast<int>(row.text.size()));
    EndPaint(window, &paint);
}

INT_PTR CALLBACK MonitorProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            KeepDialogState(window, reinterpret_cast<MonitorState*>(lParam));
            SetWindowTextW(window, Title(DialogState<MonitorState>(window).kind));
            SetTimer(window, kRepaintTimer, kRepaintMs, nullptr);
            return TRUE;
        case WM_TIMER:
            // No erase: a shorter new text leaves the old tail visible.
            InvalidateRect(window, nullptr, FALSE);
            UpdateWindow(window);
            return TRUE;
        case WM_PAINT:
            Draw(window, DialogState<MonitorState>(window));
            return TRUE;
        case WM_CLOSE:
            // Modeless: ending it means destroying it, which ends its timer too.
            DestroyWindow(window);
            return TRUE;
        case WM_DESTROY:
            KillTimer(window, kRepaintTimer);
            delete &DialogState<MonitorState>(window);
            SetWindowLongPtrW(window, DWLP_USER, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

std::vector<MonitorRow> MonitorRows(MonitorKind kind, const quorbel::Protocol& protocol) {
    std::vector<MonitorRow> rows;
    if (kind == MonitorKind::DirectoryTable) {
        auto table = std::make_unique<char[][quorbel::kDirSlotBytes]>(quorbel::kDirSlots);
        protocol.CopyDirectoryTable(table.get());
        AppendRows<quorbel::kDirSlots, quorbel::kDirSlotBytes>(rows, table.get(), kTableRows);
    } else {
        auto ring = std::make_unique<char[][quorbel::kRingSlotBytes]>(quorbel::kRingSlots);
        if (kind == MonitorKind::Received) protocol.CopyReceiveRing(ring.get());
        else protocol.CopySendRing(ring.get());
        AppendRows<quorbel::kRingSlots, quorbel::kRingSlotBytes>(rows, ring.get(), quorbel::kRingSlots);
    }
    return rows;
}

HWND OpenMonitorWindow(HWND owner, MonitorKind kind, const quorbel::Protocol& protocol) {
    auto* state = new MonitorState{kind, protocol};
    HWND window = CreateDialogParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_MONITOR), owner, MonitorProc,
                                     reinterpret_cast<LPARAM>(state));
    if (!window) {
        delete state;
        return nullptr;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    return window;
}
