// The copy dialog on its own (no connection): what it shows, when it starts,
// what it refuses, and what its closing leaves for the batch.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/shell.h"
#include "app/wintext.h"
#include "core/protocol.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "net_test_support.h"
#include "res/resource.h"
#include "win_test_support.h"

using namespace testing_support;

namespace {

int32_t State() { return TheProtocol().state.operationState.load(); }

class CopyDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProtocolForTest();
        WriteConsentedSettings(folder.path());
        window = CreateMainWindowIn(folder.path(), false);
        ASSERT_NE(window, nullptr);
        g_shell.copyCancelled = 0;
    }
    void TearDown() override {
        DestroyMainWindow(window);
        ResetProtocolForTest();
    }
    // Opens the dialog for `item` in `direction` at batch position
    // `position` and runs `act` on it.
    void Open(int direction, const wchar_t* item, int position, const std::function<void(HWND)>& act,
              int timeoutMs = 8000) {
        g_shell.copyDirection = direction;
        CopyText(g_shell.copyItemName, item);
        result = DriveModal([&] { return RunCopyDialog(window, position); }, act, timeoutMs);
    }

    BoxRecorder boxes;
    TempFolder folder;
    HWND window = nullptr;
    INT_PTR result = 0;
};

}  // namespace

TEST_F(CopyDialogTest, ShowsTheSourcePathAndTheDestinationFolder) {
    CopyText(g_shell.localPath, folder.path().c_str());
    CopyText(g_shell.remotePath, L"C:\\");
    HWND seen = nullptr;
    Open(0, L"report.txt", 0, [&](HWND d) {
        seen = d;
        EXPECT_EQ(TextOf(d), L"コピー設定画面");
        EXPECT_EQ(ControlText(d, IDC_EDIT_231), folder.file(L"report.txt"));
        EXPECT_EQ(ControlText(d, IDC_EDIT_232), L"C:\\");
        EXPECT_EQ(ControlText(d, IDC_STATIC_501), L"Step:000000");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDC_EDIT_231)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDC_EDIT_232)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_BUTTON_201)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_BUTTON_202)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_BUTTON_203)));
        // The first row of a batch waits for "開始".
        Pump(1500);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_BUTTON_202)));
        EXPECT_EQ(State(), quorbel::Waiting);
        Click(d, IDC_BUTTON_201);
    });
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(g_shell.copyCancelled, 1);  // "閉じる": no dialog for the rest of the batch
    EXPECT_EQ(boxes.count(), 0u);

    // Esc answers as "閉じる" does.
    g_shell.copyCancelled = 0;
    Open(0, L"report.txt", 0, [](HWND d) { SendMessageW(d, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_EQ(g_shell.copyCancelled, 1);

    // From the peer: the peer's root is not doubled, the local folder is the destination.
    CopyText(g_shell.remotePath, L"D:\\");
    Open(1, L"x.bin", 0, [&](HWND d) {
        EXPECT_EQ(ControlText(d, IDC_EDIT_231), L"D:\\x.bin");
        EXPECT_EQ(ControlText(d, IDC_EDIT_232), folder.path());
        // The close box ends it whatever the state.
        PostMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(g_shell.copyCancelled, 1);
}

TEST_F(CopyDialogTest, StartAndCloseAreRefusedWhileAnotherOperationRuns) {
    CopyText(g_shell.localPath, folder.path().c_str());
    CopyText(g_shell.remotePath, L"C:\\in");
    TheProtocol().state.operationState = quorbel::RequestDIR;  // the peer lists this side
    Open(0, L"a.txt", 0, [&](HWND d) {
        Click(d, IDC_BUTTON_202);
        Click(d, IDC_BUTTON_201);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_BUTTON_202)));
        EXPECT_TRUE(IsWindow(d));
        // WM_CLOSE is not refused, even now.
        PostMessageW(d, WM_CLOSE, 0, 0);
    });
    auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& b : shown) {
        EXPECT_EQ(b.text, L"転送中は操作不可！");
        EXPECT_EQ(b.caption, L"画面閉じる");
        EXPECT_EQ(b.type, static_cast<UINT>(MB_OK));
        EXPECT_NE(b.owner, nullptr);
    }
    EXPECT_EQ(State(), quorbel::RequestDIR);  // nothing was started
    EXPECT_EQ(g_shell.copyCancelled, 1);
}

TEST_F(CopyDialogTest, ALaterRowWaitsForItsTurnThenStartsByItself) {
    CopyText(g_shell.localPath, folder.path().c_str());
    CopyText(g_shell.remotePath, L"C:\\in");
    TheProtocol().state.operationState = quorbel::RequestCopyFrom;
    DWORD opened = 0, started = 0;
    Open(0, L"a.txt", 2, [&](HWND d) {
        opened = GetTickCount();
        // Busy for two seconds: no start, and no box for an automatic start.
        Pump(2000);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_BUTTON_202)));
        EXPECT_EQ(boxes.count(), 0u);
        TheProtocol().state.operationState = quorbel::Waiting;
        PumpUntil([&] { return !IsWindowEnabled(GetDlgItem(d, IDC_BUTTON_202)) || !IsWindow(d); }, 3000);
        started = GetTickCount();
    });
    EXPECT_GE(started - opened, 2000u);
    EXPECT_LE(started - opened, 3500u);
    // Unconnected, the request could not leave: its box, Waiting again, and
    // the rest of the batch is called off.
    ASSERT_GE(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, L"WSAGetLastError");
    const std::wstring text = boxes.boxes()[0].text;
    const std::wstring request = L"\r\nFDC:\\in\\a.txt";
    EXPECT_EQ(text.rfind(request), text.size() - request.size()) << Narrow(text);
    EXPECT_EQ(State(), quorbel::Waiting);
    EXPECT_EQ(g_shell.copyCancelled, 1);
    EXPECT_EQ(result, 1);
}

TEST_F(CopyDialogTest, APathTooLongForItsRequestIsRefusedAndTheBatchGoesOn) {
    CopyText(g_shell.localPath, folder.path().c_str());
    struct Case {
        std::wstring remote;
        int direction;
        std::wstring item;
        const char* why;
    } cases[] = {
        {L"C:\\" + std::wstring(250, L'd'), 0, L"file.txt", "destination over 259 characters"},
        // 140 characters, but 3 + 2 * 136 + 9 bytes in code page 932.
        {L"C:\\" + std::wstring(136, L'\u3042'), 0, L"file.txt", "destination over 257 ANSI bytes"},
        {L"C:\\" + std::wstring(136, L'\u3042'), 1, L"file.txt", "source on the peer over 257 ANSI bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        boxes.clear();
        g_shell.copyCancelled = 0;
        CopyText(g_shell.remotePath, c.remote.c_str());
        Open(c.direction, c.item.c_str(), 0, [](HWND d) { Click(d, IDC_BUTTON_202); });
        ASSERT_EQ(boxes.count(), 1u);
        EXPECT_EQ(boxes.last().text, L"パスが長すぎるため複写できません");
        EXPECT_EQ(boxes.last().caption, L"複写操作");
        EXPECT_EQ(State(), quorbel::Waiting);
        EXPECT_EQ(g_shell.copyCancelled, 0);
        EXPECT_EQ(result, 1);
    }
    // A source text longer than a path buffer is not cut into another name.
    boxes.clear();
    std::wstring deep = L"C:\\" + std::wstring(240, L's');
    CopyText(g_shell.localPath, deep.c_str());
    CopyText(g_shell.remotePath, L"C:\\");
    Open(0, L"twenty-characters.tx", 0, [](HWND d) {
        EXPECT_EQ(ControlText(d, IDC_EDIT_231).size(), 3u + 240 + 1 + 20);
        Click(d, IDC_BUTTON_202);
    });
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"パスが長すぎるため複写できません");
    EXPECT_EQ(State(), quorbel::Waiting);
}

TEST_F(CopyDialogTest, AStopNoTransferTookUpIsWithdrawnWhenTheDialogCloses) {
    CopyText(g_shell.localPath, folder.path().c_str());
    CopyText(g_shell.remotePath, L"C:\\");
    TheProtocol().state.stopFlag = 2;
    Open(1, L"a.bin", 0, [](HWND d) {
        // A new dialog starts without a stop.
        EXPECT_EQ(TheProtocol().state.stopFlag.load(), 0);
        Click(d, IDC_BUTTON_203);
        EXPECT_EQ(TheProtocol().state.stopFlag.load(), 1);
        Click(d, IDC_BUTTON_201);
    });
    EXPECT_EQ(TheProtocol().state.stopFlag.load(), 0);

    // A stop record whose answer never came (the copy ended by a NAK or
    // with the connection) is withdrawn as well.
    Open(0, L"a.bin", 0, [](HWND d) {
        TheProtocol().state.stopFlag = 2;
        Click(d, IDC_BUTTON_201);
    });
    EXPECT_EQ(TheProtocol().state.stopFlag.load(), 0);

    // Closed while a copy to the peer still runs: the stop stays for it.
    TheProtocol().state.operationState = quorbel::CallCopyTO;
    Open(0, L"a.bin", 0, [](HWND d) {
        Click(d, IDC_BUTTON_203);
        PostMessageW(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(TheProtocol().state.stopFlag.load(), 1);
    EXPECT_EQ(g_shell.copyCancelled, 1);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CopyDialogTest, Screenshot) {
    CopyText(g_shell.localPath, folder.path().c_str());
    CopyText(g_shell.remotePath, L"D:\\\u5171\u6709\\2024");
    Open(0, L"\u5831\u544a\u66f8.xlsx", 0, [](HWND d) {
        SaveScreenshot(d, L"copy_dialog_ready");
        Click(d, IDC_BUTTON_201);
    });
}
