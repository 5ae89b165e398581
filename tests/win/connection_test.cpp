// The connection where only Windows can get it wrong: the receive thread
// meeting the window thread, the Server's peer slots, Winsock failures.
#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "support.h"

// What `s` receives while this thread keeps serving its windows: nothing
// within `ms`, "" when the other side closed, or one recv's bytes.
static std::optional<std::string> Receive(SOCKET s, DWORD ms = 5000) {
    timeval now = {0, 0};
    char bytes[1100];
    if (!PumpUntil([&] { fd_set set = {1, {s}}; return select(0, &set, nullptr, nullptr, &now) == 1; }, ms)) return {};
    const int n = recv(s, bytes, sizeof bytes, 0);
    return std::string(bytes, n > 0 ? n : 0);
}

// A loopback socket connected to `port`, or one listening on a new port.
static SOCKET Socket(int& port, bool listening) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET, address.sin_port = htons(u_short(port));
    address.sin_addr.s_addr = htonl(listening ? INADDR_ANY : INADDR_LOOPBACK);
    int length = sizeof address;
    if (!listening) return connect(s, reinterpret_cast<sockaddr*>(&address), length) == 0 ? s : INVALID_SOCKET;
    bind(s, reinterpret_cast<sockaddr*>(&address), length), listen(s, 3);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return s;
}

class Sockets : public ::testing::Test {
protected:
    // A Server, on a port that was free a moment ago unless told.
    std::shared_ptr<App> Server(int on = 0, const wchar_t* mode = L"1", const wchar_t* loginRequired = L"1") {
        if ((port = on) == 0) closesocket(Socket(port, true));
        auto app = OpenMainWindow(folder.path, {{L"ip_mode", mode}, {L"port_no", std::to_wstring(port)},
                                                {L"login_required", loginRequired}});
        app->settings.storedId = u"qb", app->settings.storedPw = u"pw";
        app->Connect();
        return app;
    }
    Folder folder{L"qb_sockets"};
    Boxes boxes;
    int port = 0;
};

TEST_F(Sockets, CloseEndsAReceiveThreadThatWaitsInsideASendMessage) {
    SOCKET server = Socket(port, true);  // the Client's connect needs no accept
    auto app = OpenMainWindow(folder.path, {{L"port_no", std::to_wstring(port)}});
    ASSERT_EQ(app->Connect(), StartResult::Started);
    // The receive thread's first step empties the right pane: a message
    // sent to this thread, which serves nothing until it closes.
    auto waiting = [] { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; };
    for (const DWORD start = GetTickCount(); !waiting() && GetTickCount() - start < 5000;) Sleep(1);
    ASSERT_TRUE(waiting());
    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread watchdog([closed] {  // threads that wait for each other end the run, not the test alone
        if (WaitForSingleObject(closed, 10000) == WAIT_TIMEOUT) fputs("Close() hung\n", stderr), ExitProcess(3);
    });
    app->connection.Close();
    SetEvent(closed);
    watchdog.join();
    EXPECT_FALSE(app->connection.IsOpen());
    EXPECT_TRUE(boxes.All().empty());
    closesocket(server);
}

TEST_F(Sockets, TheServerAnswersOnlySlotZeroClosesAnEleventhPeerAndEndsWithItsWindow) {
    auto app = Server(0, L"1", L"0");  // any Client served, logged in or not
    std::vector<SOCKET> peers;
    for (int i = 1; i <= 10; ++i) {  // each one taken, as the header tells, before the next comes
        SetWindowTextW(app->connectionHeader, L"");
        peers.push_back(Socket(port, false));
        ASSERT_TRUE(PumpUntil([&] { return Text(app->connectionHeader) == L"Server:Conection:[127,0,0,1]"; }));
    }
    peers.push_back(Socket(port, false));
    EXPECT_EQ(Receive(peers[10]), "");
    const std::string ask = "DD" + std::string(folder.path.begin(), folder.path.end());  // it holds Quorbel.ini
    send(peers[1], ask.data(), static_cast<int>(ask.size()), 0);
    EXPECT_EQ(Receive(peers[0]).value_or("").substr(0, 8), "DR000000");
    EXPECT_FALSE(Receive(peers[1], 0)) << "the asking slot got an answer";
    EXPECT_EQ(StatusPart(app->statusBar, 2), L"Connecting:2");  // the slot that spoke last
    EXPECT_EQ(Text(app->connectionHeader), L"Server:Conection:[127,0,0,1]");

    ASSERT_EQ(app->protocol().OperationState(), quorbel::RequestDIR);  // serving, when the window goes
    DestroyWindow(app->window);
    EXPECT_TRUE(!app->window && !app->connection.IsOpen());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Receive(peers[i]), "") << i;
    EXPECT_TRUE(boxes.All().empty());
    for (SOCKET s : peers) closesocket(s);
}

TEST_F(Sockets, ATakenPortGivesTheBindBoxAndNoServer) {
    SOCKET taken = Socket(port, true);
    auto app = Server(port);
    EXPECT_FALSE(app->connection.IsOpen());
    ASSERT_EQ(boxes.All().size(), 1u);
    EXPECT_EQ(boxes.all[0].caption + L" " + boxes.all[0].text, L"bind_Error Err No.10048");
    EXPECT_EQ(boxes.all[0].owner, app->window);
    closesocket(taken);
}

TEST_F(Sockets, JunkGetsEveryNakPromptlyWhileTheFirstNoteIsStillShown) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    boxes.answer = [release](const Boxes::Box& box) {
        return box.caption == L"SEND-NAK" ? WaitForSingleObject(release, 30000), IDOK : IDOK;
    };
    auto app = Server(0, L"1", L"0");  // the refusal note is for a served peer
    SOCKET peer = Socket(port, false);
    ASSERT_TRUE(PumpUntil([&] { return app->connection.PeerPresent(); }));
    int naks = 0;
    const DWORD start = GetTickCount();
    for (int i = 0; i < 100 && naks == i; ++i) naks += send(peer, "JUNK", 4, 0) == 4 && Receive(peer) == "NAK";
    EXPECT_EQ(naks, 100);
    EXPECT_LT(GetTickCount() - start, 10000u);
    const auto shown = boxes.All();
    EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [](auto& box) { return box.caption == L"SEND-NAK"; }), 1);
    SetEvent(release);
    closesocket(peer);
}

// A Server of the plain protocol answers the secure offer "NAK"; the Client
// logs in the plain way on a new connection, unless it had a secure session
// with that Server before and its user says no.
TEST_F(Sockets, ARefusedLoginIsClosedBeforeItsBoxIsShown) {
    for (const bool remembered : {false, true}) {
        SOCKET server = Socket(port, true);
        const std::wstring where = L"127.0.0.1:" + std::to_wstring(port) + L";";
        auto app = OpenMainWindow(
            folder.path, {{L"port_no", std::to_wstring(port)}, {L"secure_peers", remembered ? where : L""}}, false);
        std::string seen;  // at the Server: the offers, the plain request, then the close
        std::thread peer([&] {
            SOCKET s = accept(server, nullptr, nullptr);
            // The offer, then the older release's offer, each answered "NAK".
            for (int offer = 0; offer < 2; ++offer) seen += Receive(s).value_or("?").substr(0, 3), send(s, "NAK", 3, 0);
            closesocket(s);
            if ((s = accept(server, nullptr, nullptr)) == INVALID_SOCKET) return;
            seen += Receive(s).value_or("?").substr(0, 2);
            seen += (send(s, "NAK", 3, 0), Receive(s, 20000).value_or(" still open"));
            closesocket(s);
        });
        boxes.answer = [&](const Boxes::Box& box) {
            if (box.caption == L"Login確認") return closesocket(server), peer.join(), IDNO;
            return peer.join(), IDOK;  // the box waits for the close
        };
        EXPECT_EQ(app->Connect(), StartResult::LoginFailed);
        if (peer.joinable()) peer.join();
        if (!remembered) closesocket(server);  // the answer to the question closed it
        EXPECT_EQ(seen, remembered ? std::string("PW\0PW\0", 6) : std::string("PW\0PW\0PW", 8));
        const auto shown = boxes.All();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].caption, remembered ? L"Login確認" : L"Login_Error");
        EXPECT_EQ(shown[0].text.find(where.substr(0, where.size() - 1)) != std::wstring::npos, remembered);
        boxes.all.clear();
    }
}

// The Windows Server's login: nothing but the login is served until that connection logged in, and no
// connection beside the peer is kept while it is required.
class WindowsServerLogin : public Sockets {};

TEST_F(WindowsServerLogin, ServesOnlyWhoLoggedInDropsAGuesserListsFromTheRootAndEndsWithCut) {
    auto app = Server(0, L"2");  // any mode but 0 is the Server
    app->protocol().SetRemoteFolderPath(u"C:\\earlier");  // a folder of an earlier peer
    auto ask = [](SOCKET s, const std::string& m) { return send(s, m.data(), int(m.size()), 0), Receive(s); };
    SOCKET guesser = Socket(port, false);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ask(guesser, "PWqbPW"), "NAK");
    EXPECT_EQ(Receive(guesser), "") << "room for a fourth guess";
    SOCKET peer = Socket(port, false);  // the Server goes on listening
    const std::string list = "DD" + std::string(folder.path.begin(), folder.path.end());
    EXPECT_EQ(ask(peer, list), "NAK");
    SOCKET beside = Socket(port, false);
    EXPECT_EQ(ask(peer, "PWqbpw"), "ACK");
    EXPECT_EQ(Receive(beside), "") << "kept beside the peer";
    std::string record = ask(peer, list).value_or("");
    for (int i = 0; i < 10 && record.rfind("DR0", 0) == 0; ++i) record = ask(peer, "ACK").value_or("");
    EXPECT_EQ(record + Receive(peer).value_or(""), "DR999999DDC:\\");  // then the Server's own listing
    PostMessageW(app->window, WM_CLOSE, 0, 0);  // both questions answered YES
    EXPECT_EQ(Receive(peer), "CUT");
    EXPECT_TRUE(PumpUntil([&] { return !app->window; }, 3000)) << "the window outlived the close";
    for (SOCKET s : {guesser, peer, beside}) closesocket(s);
}
