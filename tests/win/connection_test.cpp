// The connection where only Windows can get it wrong: the receive thread
// meeting the window thread, the Server's peer slots, Winsock failures.
#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "core/protocol/versions.h"
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

// A loopback socket connected to `port` (from 127.0.0.`from`), or one listening on a new port.
static SOCKET Socket(int& port, bool listening, int from = 1) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {}, own = {AF_INET, 0, {}, {}};
    own.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + from);
    if (from != 1) bind(s, reinterpret_cast<sockaddr*>(&own), sizeof own);
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

// A Server of the plain protocol answers every secure offer "NAK"; the Client logs in the plain way on a new
// connection, unless it had a secure session with that Server before and its user says no (asked too when set to the
// plain login, before anything goes), or it requires secure sessions. Each connection is closed before its box.
TEST_F(Sockets, ARefusedLoginIsClosedBeforeItsBoxIsShown) {
    namespace texts = quorbel::texts;
    std::string offers;  // the newest secure offer, then each older one
    for (int version = 1; version <= quorbel::kFastVersion; ++version)
        if (quorbel::CapabilitiesOf(version).secure) offers += std::string("PW\0", 3);
    struct Case { bool remembered; const wchar_t *fast, *secureOnly; std::string seen; const quorbel::BoxText* box; };
    for (const Case& c : {Case{false, L"1", L"0", offers + "PW", &texts::kLoginRejected},
                          Case{true, L"1", L"0", offers, &texts::kLoginNoLongerSecure},
                          Case{true, L"0", L"0", "", &texts::kLoginNoLongerSecure},
                          Case{false, L"1", L"1", offers, &texts::kLoginSecureRequired}}) {
        SOCKET server = Socket(port, true);
        const std::wstring where = L"127.0.0.1:" + std::to_wstring(port);
        auto app = OpenMainWindow(folder.path, {{L"port_no", std::to_wstring(port)}, {L"fast_mode", c.fast},
                                                {L"require_secure", c.secureOnly},
                                                {L"secure_peers", c.remembered ? where + L";" : L""}}, false);
        std::string seen;  // at the Server: how each message starts, and a connection still open at the box
        std::thread peer([&] {
            for (SOCKET s; (s = accept(server, nullptr, nullptr)) != INVALID_SOCKET; closesocket(s)) {
                std::optional<std::string> m;
                while ((m = Receive(s)) && !m->empty()) seen += m->substr(0, 3), send(s, "NAK", 3, 0);
                if (!m) seen += " still open";
            }
        });
        auto stop = [&] { if (peer.joinable()) closesocket(server), peer.join(); };
        boxes.answer = [&](const Boxes::Box&) { return stop(), IDNO; };  // the box waits for the close
        EXPECT_EQ(app->Connect(), StartResult::LoginFailed);
        stop();
        EXPECT_EQ(seen, c.seen);
        const auto shown = boxes.All();
        ASSERT_EQ(shown.size(), 1u);
        const bool asked = c.box == &texts::kLoginNoLongerSecure;
        EXPECT_EQ(shown[0].caption, AsWide(c.box->caption));
        EXPECT_TRUE(asked ? shown[0].text.find(where) != std::wstring::npos : shown[0].text == AsWide(c.box->text));
        EXPECT_EQ(shown[0].type, asked ? UINT(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) : UINT(MB_OK));
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
    SOCKET guesser = Socket(port, false, 2);  // from an address of its own: its guesses cost it alone
    // Each wrong pair makes the next one wait longer; the third ends the connection.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ask(guesser, "PWqbPW"), "NAK");
    EXPECT_EQ(Receive(guesser), "") << "a fourth guess on one connection";
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

// A stranger cannot keep the one slot: a connection that is silent gives way to the next, one that began its login
// keeps it until its time to log in ran out, and then goes.
TEST_F(WindowsServerLogin, AStrangersConnectionKeepsNoClientOut) {
    auto app = Server();
    SOCKET client = INVALID_SOCKET;
    auto logIn = [&] {  // a Client's login on a new connection: true once it is in
        SOCKET s = Socket(port, false);
        const bool in = send(s, "PWqbpw", 6, 0) == 6 && Receive(s) == "ACK";
        return in ? (client = s, true) : (closesocket(s), Sleep(100), false);
    };
    for (const char* stranger : {"", "PWqbxx"}) {
        SOCKET s = Socket(port, false);
        ASSERT_TRUE(PumpUntil([&] { return app->connection.PeerPresent(); }));
        const DWORD start = GetTickCount();
        if (*stranger) {
            EXPECT_EQ((send(s, stranger, 6, 0), Receive(s)), "NAK");
        }
        ASSERT_TRUE(PumpUntil(logIn, 20000)) << stranger;
        EXPECT_EQ(Receive(s), "") << stranger;
        // Silent: replaced soon after 2 s; a wrong login: closed once its 10 s are over, not before.
        EXPECT_TRUE(*stranger ? GetTickCount() - start >= 9900 : GetTickCount() - start < 9000) << stranger;
        closesocket(s), closesocket(client);
        ASSERT_TRUE(PumpUntil([&] { return !app->connection.PeerPresent(); }));
    }
}

// A secure login's Server is in the Client's file as soon as the login is done, whatever happens to the Client after:
// by the name the user gave it and by its address.
TEST_F(WindowsServerLogin, TheClientKeepsItsSecureServerInItsFileAtOnce) {
    std::atomic<bool> listening{false}, done{false};
    std::thread serving([&] {  // a window thread of its own: the Client's login holds this one
        auto app = Server();
        listening = true;
        PumpUntil([&] { return done.load(); }, 60000);
    });
    ASSERT_TRUE(PumpUntil([&] { return listening.load(); }));
    Folder own(L"qb_secure_client");
    auto client = OpenMainWindow(own.path, {{L"port_no", std::to_wstring(port)}, {L"pc_name", L"1"},
                                            {L"pc_name_wcs[0].pn", L"LocalHost"}}, false);
    client->loginId = u"qb", client->loginPw = u"pw";
    EXPECT_EQ(client->Connect(), StartResult::Started);
    EXPECT_TRUE(client->protocol().Secure());
    const std::wstring at = L":" + std::to_wstring(port) + L";";
    EXPECT_EQ(IniText(own.path, L"secure_peers"), L"127.0.0.1" + at + L"localhost" + at);
    client->connection.Close();
    done = true;
    serving.join();
}
