// The traffic monitors: what each window draws from the rings and the
// directory table, its timer, the repaint without erase, and slots that
// fill their whole size.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/shell.h"
#include "dialogs/dialogs.h"
#include "dialogs/monitors.h"
#include "net/net.h"
#include "res/resource.h"
#include "win_test_support.h"

using namespace testing_support;

namespace {

constexpr int kReceiveStore = 0, kSendStore = 1, kTableStore = 2;

std::string Ansi(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void SetSlot(int store, int slot, const std::string& bytes) {
    SetMonitorSlotForTest(store, slot, bytes.data(), static_cast<int>(bytes.size()));
}

void ClearStores() {
    for (int slot = 0; slot < kMonitorRingSlots; ++slot) {
        SetMonitorSlotForTest(kReceiveStore, slot, nullptr, 0);
        SetMonitorSlotForTest(kSendStore, slot, nullptr, 0);
    }
    for (int slot = 0; slot < kMonitorTableSlots; ++slot) SetMonitorSlotForTest(kTableStore, slot, nullptr, 0);
}

// The send ring as `count` recorded messages "message <n>" leave it: each
// message at the write position, the end marker in the slot after it.
void RecordSentMessages(int count) {
    for (int n = 1; n <= count; ++n) {
        SetSlot(kSendStore, (n - 1) % kMonitorRingSlots, "message " + std::to_string(n));
        SetSlot(kSendStore, n % kMonitorRingSlots, "***** WRITE-END *****");
    }
}

// Dark pixels (text) in the client area between x0 and x1 on the row at y.
bool RowHasInk(HWND window, int y, int x0, int x1) {
    HDC dc = GetDC(window);
    bool ink = false;
    for (int yy = y; yy < y + 16 && !ink; ++yy)
        for (int x = x0; x < x1 && !ink; ++x) {
            COLORREF c = GetPixel(dc, x, yy);
            ink = c != CLR_INVALID && GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100;
        }
    ReleaseDC(window, dc);
    return ink;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetShellState();
        g_shell.instance = GetModuleHandleW(nullptr);
        ClearStores();
    }
    void TearDown() override {
        for (HWND w : windows)
            if (IsWindow(w)) DestroyWindow(w);
        ClearStores();
    }
    HWND Open(MonitorKind kind) {
        HWND w = OpenMonitorWindow(nullptr, kind);
        windows.push_back(w);
        Pump(100);
        return w;
    }
    std::vector<HWND> windows;
};

}  // namespace

TEST(MonitorSlotText, StopsAtTheZeroByteOrTheSlotEndAndConvertsTheCodePage) {
    const char plain[272] = "DD C:\\data";
    EXPECT_EQ(MonitorSlotText(plain, sizeof plain), L"DD C:\\data");
    const char empty[272] = {};
    EXPECT_EQ(MonitorSlotText(empty, sizeof empty), L"");

    // A ring slot filled to its last byte: nothing after it is read.
    ASSERT_EQ(GetACP(), 932u);
    std::string memory;
    for (int i = 0; i < 136; ++i) memory += Ansi(L"日");
    ASSERT_EQ(memory.size(), 272u);
    memory += "AFTER THE SLOT";
    EXPECT_EQ(MonitorSlotText(memory.data(), 272), std::wstring(136, L'日'));
    // A table slot is 256 bytes.
    EXPECT_EQ(MonitorSlotText(memory.data(), 256), std::wstring(128, L'日'));

    // Single-byte text longer than 256 characters shows its first 256.
    std::string wide(272, 'x');
    EXPECT_EQ(MonitorSlotText(wide.data(), wide.size()), std::wstring(256, L'x'));
}

TEST_F(MonitorTest, SentWindowAfterFortyMessagesShowsTheNewestBeforeTheEndMarker) {
    RecordSentMessages(40);
    HWND w = Open(kMonitorSent);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_EQ(TextOf(w), L"送信データー表示");

    std::vector<MonitorRow> rows = MonitorRows(kMonitorSent);
    ASSERT_EQ(rows.size(), 32u);
    for (int slot = 0; slot < 32; ++slot) EXPECT_EQ(rows[slot].y, 20 * slot);
    for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(rows[slot].text, L"message " + std::to_wstring(33 + slot));
    EXPECT_EQ(rows[8].text, L"***** WRITE-END *****");
    for (int slot = 9; slot < 32; ++slot) EXPECT_EQ(rows[slot].text, L"message " + std::to_wstring(1 + slot));

    // The rows really are drawn there.
    EXPECT_TRUE(RowHasInk(w, 0, 0, 60));
    EXPECT_TRUE(RowHasInk(w, 8 * 20, 0, 60));
    EXPECT_TRUE(RowHasInk(w, 31 * 20, 0, 60));
    EXPECT_FALSE(RowHasInk(w, 32 * 20 + 4, 0, 60));
    // Nothing of the receive ring is mixed in.
    for (const MonitorRow& row : MonitorRows(kMonitorReceived)) EXPECT_EQ(row.text, L"");
}

TEST_F(MonitorTest, ReceivedWindowShowsItsOwnRingAndEachWindowHasItsOwnTimer) {
    SetSlot(kReceiveStore, 0, "ACK");
    SetSlot(kReceiveStore, 1, "***** READ-END *****");
    HWND first = Open(kMonitorReceived);
    HWND second = Open(kMonitorReceived);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(TextOf(first), L"受信データー表示");
    std::vector<MonitorRow> rows = MonitorRows(kMonitorReceived);
    EXPECT_EQ(rows[0].text, L"ACK");
    EXPECT_EQ(rows[1].text, L"***** READ-END *****");
    EXPECT_EQ(rows[2].text, L"");

    // Closing destroys the window (and its timer); the other one lives on.
    SendMessageW(first, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindow(second));
    EXPECT_TRUE(KillTimer(second, 1));
}

TEST_F(MonitorTest, DirectoryTableFoldsItsSlotsIntoThirtyTwoRows) {
    for (int i = 0; i < 40; ++i) {
        char record[64];
        snprintf(record, sizeof record, "DR%06dfile%02d.txt,25/01/02 03:04,1K,0", i, i + 1);
        SetSlot(kTableStore, i, record);
    }
    SetSlot(kTableStore, 40, "DR999999");
    HWND w = Open(kMonitorDirectoryTable);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(TextOf(w), L"DIRテーブル表示");
    std::vector<MonitorRow> rows = MonitorRows(kMonitorDirectoryTable);
    ASSERT_EQ(rows.size(), 1024u);
    for (int slot : {0, 31, 32, 33, 40, 1023}) EXPECT_EQ(rows[slot].y, 20 * (slot % 32)) << slot;
    // Entries 33 to 40 are drawn over entries 1 to 8 (later in drawing order).
    EXPECT_EQ(rows[32].text, L"DR000032file33.txt,25/01/02 03:04,1K,0");
    EXPECT_EQ(rows[0].text, L"DR000000file01.txt,25/01/02 03:04,1K,0");
    EXPECT_EQ(rows[40].text, L"DR999999");
    EXPECT_EQ(rows[41].text, L"");
    EXPECT_TRUE(RowHasInk(w, 0, 0, 60));
}

TEST_F(MonitorTest, TimerRepaintsAtOnceWithoutErasingTheOldTail) {
    SetSlot(kSendStore, 0, std::string(40, 'W'));
    HWND w = Open(kMonitorSent);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(RowHasInk(w, 0, 100, 200));

    SetSlot(kSendStore, 0, "W");
    SetSlot(kSendStore, 3, "NEW");
    SendMessageW(w, WM_TIMER, 1, 0);
    RECT pending;
    EXPECT_FALSE(GetUpdateRect(w, &pending, FALSE));  // painted already
    EXPECT_TRUE(RowHasInk(w, 3 * 20, 0, 40));          // the new row is there
    EXPECT_TRUE(RowHasInk(w, 0, 100, 200));            // the old tail stays

    // An erasing repaint (uncovering, resizing) clears it.
    InvalidateRect(w, nullptr, TRUE);
    UpdateWindow(w);
    EXPECT_FALSE(RowHasInk(w, 0, 100, 200));
    EXPECT_TRUE(KillTimer(w, 1));
}

TEST_F(MonitorTest, SlotsWithoutTerminatorsPaintBoundedInEveryWindow) {
    std::string ring(kMonitorRingSlotBytes, 'R'), table(kMonitorTableSlotBytes, 'T');
    for (int slot = 0; slot < kMonitorRingSlots; ++slot) {
        SetSlot(kReceiveStore, slot, ring);
        SetSlot(kSendStore, slot, ring);
    }
    for (int slot = 0; slot < kMonitorTableSlots; ++slot) SetSlot(kTableStore, slot, table);
    for (MonitorKind kind : {kMonitorReceived, kMonitorSent, kMonitorDirectoryTable}) {
        HWND w = Open(kind);
        ASSERT_NE(w, nullptr);
        InvalidateRect(w, nullptr, TRUE);
        UpdateWindow(w);
        SendMessageW(w, WM_TIMER, 1, 0);
        EXPECT_TRUE(RowHasInk(w, 0, 0, 40));
        for (const MonitorRow& row : MonitorRows(kind)) ASSERT_EQ(row.text.size(), 256u);
    }
    // A full table slot followed by the next: each is read on its own.
    std::string kanji;
    for (int i = 0; i < 128; ++i) kanji += Ansi(L"表");
    SetSlot(kTableStore, 5, kanji);
    SetSlot(kTableStore, 6, "DR999999");
    std::vector<MonitorRow> rows = MonitorRows(kMonitorDirectoryTable);
    EXPECT_EQ(rows[5].text, std::wstring(128, L'表'));
    EXPECT_EQ(rows[6].text, L"DR999999");
}

TEST(MonitorCommands, OpenAWindowPerChoiceOwnedByTheMainWindowAndGoneWithIt) {
    TempFolder folder;
    BoxRecorder boxes;
    WriteConsentedSettings(folder.path());
    HWND main = CreateMainWindowIn(folder.path());
    ASSERT_NE(main, nullptr);
    struct Found {
        HWND main;
        std::vector<std::wstring> titles;
        std::vector<HWND> windows;
    } found{main, {}, {}};
    OnMainCommand(main, IDM_MON_RECEIVED);
    OnMainCommand(main, IDM_MON_RECEIVED);
    OnMainCommand(main, IDM_MON_SENT);
    OnMainCommand(main, IDM_MON_DIRTABLE);
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Found*>(p);
            if (GetWindow(w, GW_OWNER) == f->main && IsWindowVisible(w)) {
                f->titles.push_back(TextOf(w));
                f->windows.push_back(w);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    std::multiset<std::wstring> titles(found.titles.begin(), found.titles.end());
    EXPECT_EQ(titles, (std::multiset<std::wstring>{L"受信データー表示", L"受信データー表示", L"送信データー表示",
                                                   L"DIRテーブル表示"}));
    DestroyMainWindow(main);
    for (HWND w : found.windows) EXPECT_FALSE(IsWindow(w));
}

TEST_F(MonitorTest, Screenshot) {
    const wchar_t* requests[] = {L"DDC:\\Users\\quorbel\\資料", L"FDD:\\受信\\報告書.xlsx", L"CDD:\\受信\\新しいフォルダ",
                                 L"DDC:\\", L"FCC:\\Users\\quorbel\\写真.jpg"};
    for (int n = 1; n <= 12; ++n) {
        std::wstring text = n % 3 == 0 ? L"ACK" : requests[n % 5];
        SetSlot(kSendStore, n - 1, Ansi(text));
        SetSlot(kSendStore, n, "***** WRITE-END *****");
    }
    for (int n = 0; n < 9; ++n) {
        wchar_t record[128];
        swprintf(record, 128, L"DR%06d%ls,25/03/%02d 10:%02d,%dK,%d", n, n % 2 ? L"月次報告.docx" : L"data.csv", n + 1,
                 n * 7, 10 + n, n % 2 ? 1 : 7);
        SetSlot(kReceiveStore, n, Ansi(record));
    }
    SetSlot(kReceiveStore, 9, "DR999999");
    SetSlot(kReceiveStore, 10, "***** READ-END *****");
    HWND sent = Open(kMonitorSent);
    SaveScreenshot(sent, L"monitor_sent");
    DestroyWindow(sent);
    HWND received = Open(kMonitorReceived);
    SaveScreenshot(received, L"monitor_received");
}
