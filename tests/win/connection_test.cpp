// The connection layer in-process: the real main window as Client or Server
// against a scripted peer on loopback (ports 32020-32049).
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/shell.h"
#include "app/wintext.h"
#include "dialogs/dialogs.h"
#include "core/protocol.h"
#include "net/net.h"
#include "net_test_support.h"
#include "res/resource.h"

using namespace testing_support;

namespace {

constexpr int kWait = 5000;

std::wstring StatusText(int part) {
    wchar_t buf[256] = {};
    SendMessageW(g_shell.statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(buf));
    return buf;
}

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ResetProtocolForTest(); }
    void TearDown() override {
        if (window && IsWindow(window) && g_shell.connectionOpen == 1) CloseConnection(window);
        DestroyMainWindow(window);
        ResetProtocolForTest();
    }
    void OpenWindow(const std::wstring& settings, bool commandMode = false) {
        WriteConsentedSettings(folder.path(), settings);
        window = CreateMainWindowIn(folder.path(), commandMode);
        ASSERT_NE(window, nullptr);
    }
    // Starts this side as Client against `server` (already listening), the
    // scripted peer's socket is returned; the first request is read.
    PeerSocket ConnectClient(PeerSocket& server, std::string* firstRequest = nullptr) {
        g_shell.commandMode = 1;  // no login exchange
        int result = -99;
        PeerSocket accepted;
        std::atomic<bool> done{false};
        std::thread peer([&] {
            accepted = server.Accept(kWait);
            std::string request = accepted.Receive(kWait);
            if (firstRequest) *firstRequest = request;
            done = true;
        });
        result = StartClient(window);
        // The receive thread's first request waits for this thread to serve
        // its pane and status-bar updates: keep pumping until it is read.
        PumpUntil([&] { return done.load(); }, 2 * kWait);
        peer.join();
        EXPECT_EQ(result, kClientConnected);
        return accepted;
    }
    // Starts this side as Server and connects the scripted peer.
    PeerSocket ConnectToServer(int port) {
        EXPECT_TRUE(StartServer(window));
        PeerSocket client;
        EXPECT_TRUE(client.Connect(port, kWait));
        PumpUntil([] { return g_shell.peerPresent == 1; }, kWait);
        return client;
    }
    WinsockSession winsock;
    BoxRecorder boxes;
    TempFolder folder;
    HWND window = nullptr;
};

BOOL CALLBACK CollectNotice(HWND window, LPARAM param) {
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (IsWindowVisible(window) && wcscmp(title, L"Connection") == 0) *reinterpret_cast<HWND*>(param) = window;
    return TRUE;
}

HWND VisibleNotice() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), CollectNotice, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

// ---- Client start ----------------------------------------------------------

TEST_F(ConnectionTest, RefusedConnectShowsTheWinsockTextAndReturnsByTheAnswer) {
    OpenWindow(ClientSettings(32020));
    boxes.Answer(IDNO);
    EXPECT_EQ(StartClient(window), kClientConnectRefused);
    ASSERT_EQ(boxes.count(), 1u);
    auto box = boxes.last();
    EXPECT_EQ(box.caption, L"connect_Error");
    EXPECT_EQ(box.text,
              L"接続エラー(ErrNo.10061)\r\n接続が拒否されました。\r\n相手側を先にOPENして下さい\r\n"
              L"再接続はYES、接続しないはNO");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(box.owner, window);
    EXPECT_EQ(g_shell.setupInProgress, 0);
    EXPECT_EQ(g_shell.connectionOpen, 0);
    EXPECT_EQ(VisibleNotice(), nullptr);  // the note is gone on this path too

    boxes.Answer(IDYES);
    EXPECT_EQ(StartClient(window), kClientRetry);
    EXPECT_EQ(boxes.count(), 2u);
    // Nothing was left open: closing now is harmless.
    CloseConnection(window);
    EXPECT_EQ(boxes.count(), 2u);
}

TEST_F(ConnectionTest, PcNamesAreTriedInOrderSkippingEmptyOnes) {
    OpenWindow(ClientSettings(32021));
    CopyText(g_settings.pcNames[1], L"no-such-host.invalid");
    CopyText(g_settings.pcNames[3], L"localhost");
    g_settings.targetAddress[0] = 10;
    EXPECT_EQ(ResolvePeerName(window), 0);
    const int32_t loopback[4] = {127, 0, 0, 1};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(g_settings.targetAddress[i], loopback[i]);
    EXPECT_EQ(boxes.count(), 0u);

    // The first name that resolves wins; the later ones are not asked.
    CopyText(g_settings.pcNames[0], L"127.0.0.9");
    EXPECT_EQ(ResolvePeerName(window), 0);
    EXPECT_EQ(g_settings.targetAddress[3], 9);
}

TEST_F(ConnectionTest, NoPcNameResolvingAsksWhileTheNoteIsUp) {
    OpenWindow(ClientSettings(32022));
    for (auto& name : g_settings.pcNames) name[0] = L'\0';
    boxes.Answer(IDNO);
    EXPECT_EQ(ResolvePeerName(window), 1);
    EXPECT_EQ(boxes.last().caption, L"PC名確認_Error");
    EXPECT_EQ(boxes.last().text, L"PC名確認(ErrNo.11001)\r\n再接続はYES、接続しないはNO");
    EXPECT_EQ(boxes.last().type, static_cast<UINT>(MB_YESNO));
    boxes.Answer(IDYES);
    EXPECT_EQ(ResolvePeerName(window), -1);

    // Through StartClient: the note reads "getting the address" meanwhile.
    g_settings.usePcName = 1;
    CopyText(g_settings.pcNames[2], L"no-such-host.invalid");
    std::wstring noteText;
    boxes.OnBox([&](const BoxRecorder::Box&) {
        HWND note = VisibleNotice();
        if (note) noteText = ControlText(note, IDC_STATIC_501);
        return IDNO;
    });
    EXPECT_EQ(StartClient(window), kClientNoPeer);
    EXPECT_EQ(noteText, L"只今IPアドレス取得中\r\nしばらくお待ちください");
    EXPECT_EQ(VisibleNotice(), nullptr);
    EXPECT_EQ(g_shell.setupInProgress, 0);
    boxes.Answer(IDYES);
    EXPECT_EQ(StartClient(window), kClientRetry);
}

TEST_F(ConnectionTest, PcNameThatResolvesIsConnectedTo) {
    OpenWindow(ClientSettings(32023));
    PeerSocket server;
    ASSERT_TRUE(server.Listen(32023));
    g_settings.usePcName = 1;
    CopyText(g_settings.pcNames[0], L"localhost");
    g_settings.targetAddress[0] = 10;
    std::string request;
    PeerSocket peer = ConnectClient(server, &request);
    EXPECT_EQ(g_settings.targetAddress[0], 127);
    EXPECT_EQ(request, "DD" "C:\\");
}

// ---- Login -------------------------------------------------------------------

namespace {

// Scripted Server for one login: reads the request and answers with `reply`
// (nothing at all for "", a close for "close").
struct LoginServer {
    std::string request;
    std::string afterLogin;
    void Run(PeerSocket& listener, const std::string& reply) {
        PeerSocket client = listener.Accept(kWait);
        request = client.Receive(kWait);
        if (reply == "close") return;
        if (!reply.empty()) client.Send(reply);
        afterLogin = client.Receive(reply.empty() ? 4000 : 1500);
    }
};

}  // namespace

TEST_F(ConnectionTest, LoginSendsIdAndPwJoinedAndStartsOnAck) {
    OpenWindow(ClientSettings(32024));
    CopyText(g_shell.loginId, L"user");
    CopyText(g_shell.loginPw, L"\u65e5\u672c");
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32024));
    LoginServer server;
    std::atomic<bool> done{false};
    std::thread peer([&] {
        server.Run(listener, "ACK");
        done = true;
    });
    int result = StartClient(window);
    PumpUntil([&] { return done.load(); }, 2 * kWait);
    peer.join();
    EXPECT_EQ(result, kClientConnected);
    EXPECT_EQ(server.request, "PWuser\x93\xfa\x96\x7b");
    EXPECT_EQ(server.afterLogin, "DD" "C:\\");
    EXPECT_EQ(g_shell.connectionOpen, 1);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(ConnectionTest, LoginRefusalClosedConnectionAndSilenceAllFailWithFive) {
    OpenWindow(ClientSettings(32025));
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32025));
    const std::pair<std::string, const wchar_t*> cases[] = {
        {"NAK", L"LoginでIDとPW違いで失敗しました"},
        // The Server closing before its answer is no accepted login.
        {"close", L"Loginに通信エラーになりました"},
        {"", L"Loginに通信エラーになりました"},
    };
    for (const auto& [reply, text] : cases) {
        boxes.clear();
        LoginServer server;
        std::thread peer([&] { server.Run(listener, reply); });
        const DWORD start = GetTickCount();
        int result = StartClient(window);
        const DWORD took = GetTickCount() - start;
        peer.join();
        EXPECT_EQ(result, kClientLoginFailed) << reply;
        ASSERT_EQ(boxes.count(), 1u) << reply;
        EXPECT_EQ(boxes.last().text, text);
        EXPECT_EQ(boxes.last().caption, L"Login_Error");
        EXPECT_EQ(boxes.last().owner, window);
        EXPECT_EQ(g_shell.connectionOpen, 0);
        EXPECT_EQ(g_shell.setupInProgress, 0);
        EXPECT_EQ(server.afterLogin, "") << "no listing after a failed login";
        if (reply.empty()) {
            EXPECT_GE(took, 2900u);  // the answer is awaited 3 s
        }
    }
}

// ---- Closing -------------------------------------------------------------------

TEST_F(ConnectionTest, CloseWithNothingOpenIsHarmless) {
    OpenWindow(ClientSettings(32026));
    CloseConnection(window);
    CloseConnection(window);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(g_shell.connectionOpen, 0);
    EXPECT_EQ(g_shell.peerPresent, 0);
    EXPECT_EQ(CountPeers(), 0);
}

TEST_F(ConnectionTest, ClientCutByTheServerClosesAtOnceWithoutAnswering) {
    OpenWindow(ClientSettings(32027));
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32027));
    PeerSocket server = ConnectClient(listener);
    server.Send("DR999999");
    ASSERT_TRUE(PumpUntil([] { return CurrentOperationState() == quorbel::Waiting; }, kWait));
    server.Send("CUT");
    const DWORD sent = GetTickCount();
    ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 0; }, kWait));
    EXPECT_LT(GetTickCount() - sent, 1000u);
    bool closed = false;
    EXPECT_EQ(server.Receive(kWait, &closed), "");  // no NAK, just the close
    EXPECT_TRUE(closed);
    EXPECT_EQ(TextOf(g_shell.connectionHeader).rfind(L"CLOSE<127,0,0,1>:", 0), 0u);
    EXPECT_EQ(StatusText(2), L"Disconnect");
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(ConnectionTest, ClientWhoseServerVanishesStaysQuietUntilClosed) {
    OpenWindow(ClientSettings(32028));
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32028));
    {
        PeerSocket server = ConnectClient(listener);
        // Closed in CallDIR, without "CUT".
    }
    ASSERT_TRUE(PumpUntil([] { return CurrentOperationState() == quorbel::Waiting; }, kWait));
    // The receive thread idles instead of spinning on recv.
    FILETIME created, exited, kernel1, user1, kernel2, user2;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel1, &user1);
    Pump(1000);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel2, &user2);
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    const ULONGLONG busy = ticks(kernel2) - ticks(kernel1) + ticks(user2) - ticks(user1);
    EXPECT_LT(busy, 5000000ull);  // under half of the second
    EXPECT_EQ(g_shell.connectionOpen, 1);
    OnMainCommand(window, IDM_DISCONNECT);
    ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 0; }, kWait));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(ConnectionTest, ClientDisconnectCommandClosesAfterATenthWithoutAMessage) {
    OpenWindow(ClientSettings(32029));
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32029));
    PeerSocket server = ConnectClient(listener);
    server.Send("DR999999");
    ASSERT_TRUE(PumpUntil([] { return CurrentOperationState() == quorbel::Waiting; }, kWait));
    OnMainCommand(window, IDM_DISCONNECT);
    EXPECT_EQ(g_shell.connectionOpen, 1);  // the close timer does it
    ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 0; }, kWait));
    bool closed = false;
    EXPECT_EQ(server.Receive(kWait, &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(ConnectionTest, ClientExitClosesThenDestroysTheWindow) {
    OpenWindow(ClientSettings(32030));
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32030));
    PeerSocket server = ConnectClient(listener);
    server.Send("DR999999");
    ASSERT_TRUE(PumpUntil([] { return CurrentOperationState() == quorbel::Waiting; }, kWait));
    OnMainCommand(window, IDM_EXIT);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, L"アクセス中です\r\n強制切断しますか");
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(window); }, kWait));
    EXPECT_EQ(g_shell.connectionOpen, 0);
    EXPECT_TRUE(server.WaitClosed(kWait));
}

TEST_F(ConnectionTest, CloseServesTheReceiveThreadsPaneUpdatesWhileWaiting) {
    OpenWindow(ClientSettings(32031));
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32031));
    PeerSocket server = ConnectClient(listener);
    // A record arrives while this thread serves nothing: the receive thread
    // sits in its SendMessage to the right pane when the close begins.
    server.Send("DR000000held.txt,2024/01/01 00:00,1,8");
    Sleep(500);
    const DWORD start = GetTickCount();
    CloseConnection(window);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(g_shell.connectionOpen, 0);
    EXPECT_EQ(PaneRowCount(g_shell.rightPane), 1);
}

// ---- Server ----------------------------------------------------------------

TEST_F(ConnectionTest, ServerListensTakesTenPeersAndAnswersOnSlotZeroOnly) {
    OpenWindow(ServerSettings(32032));
    EXPECT_EQ(CountPeers(), 0);
    ASSERT_TRUE(StartServer(window));
    RefreshStatusBar();
    EXPECT_EQ(StatusText(2), L"Openting");
    EXPECT_EQ(g_shell.setupInProgress, 0);

    std::vector<PeerSocket> peers(11);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(peers[i].Connect(32032, kWait));
        ASSERT_TRUE(PumpUntil([&] { return CountPeers() == i + 1; }, kWait)) << i;
    }
    EXPECT_EQ(TextOf(g_shell.connectionHeader), L"Server:Conection:[127,0,0,1]");
    EXPECT_EQ(g_shell.peerPresent, 1);
    // The eleventh is taken and closed at once.
    ASSERT_TRUE(peers[10].Connect(32032, kWait));
    bool closed = false;
    RunWhilePumping([&] { peers[10].Receive(kWait, &closed); });
    EXPECT_TRUE(closed);
    EXPECT_EQ(CountPeers(), 10);

    // A request from slot 1 is served, but the answer goes to slot 0.
    std::string onZero, onOne;
    RunWhilePumping([&] {
        peers[1].Send("XX");
        onZero = peers[0].Receive(kWait);
        onOne = peers[1].Receive(300);
    });
    EXPECT_EQ(onZero, "NAK");
    EXPECT_EQ(onOne, "");
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(StatusText(2), L"Connecting:2");

    // Slot 0's peer leaves: cut-off text, no peer, pane emptied; the next
    // Client takes slot 0 again.
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    wchar_t text[] = L"stale";
    item.pszText = text;
    SendMessageW(g_shell.rightPane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    peers[0].Close();
    ASSERT_TRUE(PumpUntil([] { return CountPeers() == 9; }, kWait));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(TextOf(g_shell.connectionHeader), L"Server:CutOFF:[127,0,0,1]");
    EXPECT_EQ(g_shell.peerPresent, 0);
    EXPECT_EQ(PaneRowCount(g_shell.rightPane), 0);
    EXPECT_EQ(StatusText(2), L"Openting");
    ASSERT_TRUE(peers[0].Connect(32032, kWait));
    ASSERT_TRUE(PumpUntil([] { return CountPeers() == 10; }, kWait));
    std::string answer;
    RunWhilePumping([&] {
        peers[5].Send("ACK");
        answer = peers[0].Receive(kWait);
    });
    EXPECT_EQ(answer, "NAK");

    CloseConnection(window);
    EXPECT_EQ(CountPeers(), 0);
    EXPECT_EQ(g_shell.peerPresent, 0);
    // Every accepted connection is ended with the Server.
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(peers[i].WaitClosed(kWait)) << i;
}

TEST_F(ConnectionTest, ServerAnswersCutWithNakAndStaysOpen) {
    OpenWindow(ServerSettings(32033));
    PeerSocket client = ConnectToServer(32033);
    std::string answer;
    RunWhilePumping([&] {
        client.Send("CUT");
        answer = client.Receive(kWait);
    });
    EXPECT_EQ(answer, "NAK");
    EXPECT_EQ(CurrentOperationState(), quorbel::Waiting);
    EXPECT_EQ(g_shell.connectionOpen, 1);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().caption, L"SEND-NAK");
    EXPECT_EQ(boxes.last().owner, nullptr);
}

TEST_F(ConnectionTest, ServerDisconnectSendsCutAndClosesASecondLater) {
    OpenWindow(ServerSettings(32034));
    PeerSocket client = ConnectToServer(32034);
    OnMainCommand(window, IDM_DISCONNECT);
    const DWORD sent = GetTickCount();
    EXPECT_EQ(client.Receive(kWait), "CUT");
    ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 0; }, kWait));
    EXPECT_GE(GetTickCount() - sent, 900u);
    EXPECT_EQ(TextOf(g_shell.connectionHeader), L"Server:CLOSE");
    EXPECT_TRUE(client.WaitClosed(kWait));
    PeerSocket late;
    EXPECT_FALSE(late.Connect(32034, 200));
}

TEST_F(ConnectionTest, ServerExitWithAPeerSendsCutThenEnds) {
    OpenWindow(ServerSettings(32035));
    PeerSocket client = ConnectToServer(32035);
    OnMainCommand(window, IDM_EXIT);
    auto all = boxes.boxes();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].text, L"接続相手が存在します\r\n強制切断しますか");
    EXPECT_EQ(client.Receive(kWait), "CUT");
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(window); }, kWait));
    EXPECT_EQ(g_shell.connectionOpen, 0);
    EXPECT_TRUE(client.WaitClosed(kWait));
}

TEST_F(ConnectionTest, ServerAsksForTheClientsListingHalfASecondAfterItsOwn) {
    OpenWindow(ServerSettings(32036));
    PeerSocket client = ConnectToServer(32036);
    std::vector<std::string> received;
    DWORD endAt = 0, askedAt = 0;
    RunWhilePumping([&] {
        client.Send("DD" + Narrow(folder.path()));
        for (int i = 0; i < 20; ++i) {
            std::string r = client.Receive(kWait);
            received.push_back(r);
            if (r == "DR999999") break;
            client.Send("ACK");
        }
        endAt = GetTickCount();
        std::string ask = client.Receive(kWait);
        askedAt = GetTickCount();
        received.push_back(ask);
        client.Send("DR000000peer.txt,2024/01/02 03:04,5,8");
        received.push_back(client.Receive(kWait));
        client.Send("DR999999");
    });
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(received[received.size() - 3], "DR999999");
    EXPECT_EQ(received[received.size() - 2], "DD" "C:\\");
    EXPECT_EQ(received.back(), "ACK");
    EXPECT_GE(askedAt - endAt, 400u);
    ASSERT_TRUE(PumpUntil([] { return CurrentOperationState() == quorbel::Waiting; }, kWait));
    ASSERT_EQ(PaneRowCount(g_shell.rightPane), 1);
    EXPECT_EQ(PaneText(g_shell.rightPane, 0, 0), L"peer.txt");
    EXPECT_EQ(PaneText(g_shell.rightPane, 0, 1), L"2024/01/02 03:04");
    EXPECT_EQ(PaneText(g_shell.rightPane, 0, 2), L"5");
}

TEST_F(ConnectionTest, ServerWaitingOnItsPeerMidOperationStillClosesAtOnce) {
    OpenWindow(ServerSettings(32038));
    PeerSocket client = ConnectToServer(32038);
    // This side asks for a listing; the peer never answers.
    SendMessageW(g_shell.rightPane, LVM_DELETEALLITEMS, 0, 0);
    SetOperationState(quorbel::CallDIR);
    SendListingRequestNow();
    EXPECT_EQ(client.Receive(kWait), "DD" "C:\\");
    Pump(300);
    const DWORD start = GetTickCount();
    CloseConnection(window);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(CurrentOperationState(), quorbel::Waiting);
    EXPECT_TRUE(client.WaitClosed(kWait));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(ConnectionTest, ServerTakesNewConnectionsOnceTheRunningExchangeEnds) {
    OpenWindow(ServerSettings(32039));
    PeerSocket client = ConnectToServer(32039);
    SetOperationState(quorbel::CallDIR);
    SendListingRequestNow();
    EXPECT_EQ(client.Receive(kWait), "DD" "C:\\");
    // The first record: from here on the Server waits on its peer alone.
    std::string answer;
    RunWhilePumping([&] {
        client.Send("DR000000x.txt,2024/01/02 03:04,5,8");
        answer = client.Receive(kWait);
    });
    EXPECT_EQ(answer, "ACK");
    PeerSocket second;
    ASSERT_TRUE(second.Connect(32039, kWait));
    Pump(700);
    EXPECT_EQ(CountPeers(), 1);  // the peer's answer comes first
    client.Send("DR999999");
    EXPECT_TRUE(PumpUntil([] { return CountPeers() == 2; }, kWait));
    EXPECT_EQ(CurrentOperationState(), quorbel::Waiting);
    EXPECT_EQ(PaneRowCount(g_shell.rightPane), 1);
}

TEST_F(ConnectionTest, ServerOnATakenPortSaysBindErrorAndStaysClosed) {
    OpenWindow(ServerSettings(32040));
    SOCKET taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(32040);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    EXPECT_FALSE(StartServer(window));
    closesocket(taken);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().caption, L"bind_Error");
    EXPECT_EQ(boxes.last().text, L"Err No.10048");
    EXPECT_EQ(boxes.last().owner, window);
    EXPECT_EQ(g_shell.connectionOpen, 0);
    EXPECT_EQ(g_shell.setupInProgress, 0);
    // Nothing is left half open: the port can be taken now.
    EXPECT_TRUE(StartServer(window));
    CloseConnection(window);
}

TEST_F(ConnectionTest, DestroyingTheWindowWhileServingClosesTheConnection) {
    OpenWindow(ServerSettings(32041));
    PeerSocket client = ConnectToServer(32041);
    DestroyMainWindow(window);
    EXPECT_EQ(g_shell.connectionOpen, 0);
    EXPECT_TRUE(client.WaitClosed(kWait));
    PeerSocket late;
    EXPECT_FALSE(late.Connect(32041, 200));
}

TEST_F(ConnectionTest, ProgressNoteSaysWhatTheClientWaitsFor) {
    OpenWindow(ClientSettings(32042));
    HWND note = ShowProgressNotice(window, 2);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(TextOf(note), L"Connection");
    EXPECT_EQ(ControlText(note, IDC_STATIC_501), L"只今接続中\r\nしばらくお待ちください");
    EXPECT_EQ(GetWindow(note, GW_OWNER), window);
    EXPECT_EQ(VisibleNotice(), note);
    CloseProgressNotice();
    EXPECT_FALSE(IsWindow(note));  // destroyed, not just hidden
    CloseProgressNotice();         // again: harmless
    note = ShowProgressNotice(window, 1);
    EXPECT_EQ(ControlText(note, IDC_STATIC_501), L"只今IPアドレス取得中\r\nしばらくお待ちください");
    CloseProgressNotice();
}

// ---- Records that do not fit -------------------------------------------------

TEST_F(ConnectionTest, ClientRefusesRecordsThatDoNotFitTheirFields) {
    OpenWindow(ClientSettings(32037));
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32037));
    PeerSocket server = ConnectClient(listener);
    const std::string oversized[] = {
        "DR000000" + std::string(260, 'n') + ",d,s,1",               // name over 259 bytes
        "DR000000name," + std::string(64, 'd') + ",s,1",             // date over 63 bytes
        "DR000000" + std::string(1016, ','),                         // a whole 1024-byte message
        "DR000000no-commas-at-all",
    };
    for (const std::string& record : oversized) {
        SetOperationState(quorbel::CallDIR);
        std::string answer;
        RunWhilePumping([&] {
            server.Send(record);
            answer = server.Receive(kWait);
        });
        EXPECT_EQ(answer, "NAK") << record.substr(0, 40);
        EXPECT_TRUE(PumpUntil([] { return CurrentOperationState() == quorbel::Waiting; }, kWait));
    }
    EXPECT_EQ(PaneRowCount(g_shell.rightPane), 0);
    EXPECT_EQ(boxes.count(), std::size(oversized));  // each NAK shows SEND-NAK
}

TEST_F(ConnectionTest, StateNamesAndMonitorFlagGoThroughTheProtocol) {
    EXPECT_STREQ(OperationStateText(0), L"Waiting");
    EXPECT_STREQ(OperationStateText(6), L"RequestCopyFrom");
    EXPECT_STREQ(OperationStateText(10), L"StopFrom");
    SetOperationState(quorbel::FolderTO);
    EXPECT_EQ(TheProtocol().state.operationState.load(), quorbel::FolderTO);
    EXPECT_EQ(CurrentOperationState(), quorbel::FolderTO);
    SetMonitorRecording(1);
    EXPECT_EQ(TheProtocol().state.monitorRecording.load(), 1);
    EXPECT_EQ(MonitorRecording(), 1);
    SetMonitorRecording(0);
    EXPECT_EQ(MonitorRecording(), 0);
    // With nothing connected a send fails and says so, without a crash.
    EXPECT_NE(SendFrameBytes("XX", 2), 0);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().caption, L"WSAGetLastError");
}
