// The Client's connect and login, the Server's listen and accept loop, the
// receive threads, and the orderly close.
#include "win/net/connection.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstring>

#include "core/base/path_rules.h"
#include "win/base/win_files.h"
#include "win/base/wintext.h"
#include "win/net/cryptography.h"
#include "win/net/peer_link.h"
#include "win/net/peer_slot.h"
#include "win/net/secure_peers.h"

namespace {

constexpr int kPeerSlots = 10;
constexpr long kSelectMicroseconds = 500000;
constexpr DWORD kLostConnectionPollMs = 50;
constexpr DWORD kCloseWaitSliceMs = 50;

// "[192,168,1,20]" of an IPv4 address.
std::wstring BracketedAddress(const sockaddr_in& address) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address.sin_addr);
    return L"[" + Decimal(b[0]) + L"," + Decimal(b[1]) + L"," + Decimal(b[2]) + L"," + Decimal(b[3]) + L"]";
}

void CloseSocketNow(SOCKET s) {
    if (s == INVALID_SOCKET) return;
    shutdown(s, SD_BOTH);
    closesocket(s);
}

}  // namespace

// Everything about the one connection. Values the receive thread and the
// window thread both touch are atomic; the rest belongs to the window thread.
struct Connection::Impl {
    Impl(ConnectionListener& l, quorbel::UserSeat& s)
        : listener(l),
          seat(s),
          link(l, [this] { return SendTarget(); }, [this] { return ReceiveThreadIsClosing(); },
               [this] { EndServedConnection(); }),
          protocol(link, seat, files, cryptography) {
        for (auto& slot : slots) slot.store(INVALID_SOCKET);
    }

    ConnectionListener& listener;
    quorbel::UserSeat& seat;
    WinPeerLink link;
    WinFileStore files;
    WinCryptography cryptography;
    quorbel::Protocol protocol;

    // Client: the connected socket; Server: the listening socket.
    std::atomic<SOCKET> socket{INVALID_SOCKET};
    std::atomic<SOCKET> slots[kPeerSlots];
    sockaddr_in slotAddress[kPeerSlots] = {};  // each peer's address as it was accepted
    std::atomic<int32_t> activeSlot{0};
    std::atomic<bool> server{false};
    std::atomic<bool> open{false};
    std::atomic<bool> settingUp{false};
    std::atomic<bool> peerPresent{false};
    std::atomic<long long> clientSocketNumber{0};
    HANDLE thread = nullptr;
    std::atomic<DWORD> threadId{0};
    bool winsockStarted = false;
    // Server: a login comes before anything is served (required, or secure
    // sessions only), as the values said at its start.
    std::atomic<bool> loginRequired{false};
    std::atomic<bool> endRequested{false};   // Server: drop the slot being served once its message is done
    PeerSlot peerSlot;                       // Server: slot 0's login

    SOCKET SendTarget() const { return server ? slots[0].load() : socket.load(); }
    bool ReceiveThreadIsClosing() const { return !open && GetCurrentThreadId() == threadId.load(); }

    // The core ends the connection it serves (too many wrong login pairs).
    // The Client closes as after a broken frame; the Server drops that peer
    // once the message is handled and goes on listening.
    void EndServedConnection() {
        if (server) endRequested = true;
        else listener.CloseAfter(quorbel::kCloseDelayMs);
    }

    // ---- Server ----
    std::wstring SlotAddressText(int slot) {
        sockaddr_in address = {};
        int length = sizeof address;
        // A reset connection no longer tells; the address kept at accept does.
        if (getpeername(slots[slot].load(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            address = slotAddress[slot];
        return BracketedAddress(address);
    }

    void AcceptPeer(SOCKET listening) {
        int free = -1;
        for (int i = 0; i < kPeerSlots && free < 0; ++i)
            if (slots[i].load() == INVALID_SOCKET) free = i;
        // A stranger's silent connection would keep every Client out: it
        // gives way to the newcomer.
        if (free > 0 && loginRequired && peerSlot.GivesWay()) {
            PeerLeft(0);
            free = 0;
        }
        // Every answer goes to the peer in slot 0: while a login is required,
        // a connection beside it could only ride on the peer's login. It is
        // ended at once, as one past the last slot is.
        if (free < 0 || (free > 0 && loginRequired)) {
            SOCKET extra = accept(listening, nullptr, nullptr);
            if (extra != INVALID_SOCKET) closesocket(extra);
            return;
        }
        sockaddr_in address = {};
        int length = sizeof address;
        SOCKET peer = accept(listening, reinterpret_cast<sockaddr*>(&address), &length);
        if (peer == INVALID_SOCKET) return;
        SendAtOnce(peer);
        slotAddress[free] = address;
        // The peer of the design: a new one logs in (and is listed) afresh,
        // from C:\ of this side's right pane, its login exchanges passing
        // the guard as its address's.
        if (free == 0) {
            StartPeerConnection();
            protocol.SetLoginGate(peerSlot.Began(address));
        }
        slots[free].store(peer);
        listener.PeerHeader(L"Server:Conection:" + SlotAddressText(free));
        // The lowest free slot is taken, so slot 0 is occupied now.
        peerPresent = true;
        seat.StateChanged();
    }

    void PeerLeft(int slot) {
        const std::wstring text = L"Server:CutOFF:" + SlotAddressText(slot);
        // The peer's rows, its listing and any operation with it go with it.
        if (slot == 0) {
            seat.ClearRemoteRows();
            protocol.OnConnectionLost();
        }
        listener.PeerHeader(text);
        SOCKET s = slots[slot].exchange(INVALID_SOCKET);
        if (slot == 0) peerPresent = false;
        seat.StateChanged();
        CloseSocketNow(s);
    }

    void ReceiveFromSlot(int slot) {
        const quorbel::Origin origin = slot == 0 ? quorbel::Origin::Peer : quorbel::Origin::Beside;
        const int n = recv(slots[slot].load(), protocol.ReceiveSpace(origin),
                           static_cast<int>(protocol.ReceiveSpaceBytes(origin)), 0);
        if (n > 0 && slot == 0) peerSlot.Heard();
        // The status bar names the slot that spoke last: waiting on the peer
        // alone during an operation is no word from it yet.
        if (open && activeSlot.exchange(slot + 1) != slot + 1) seat.StateChanged();
        if (n > 0 && protocol.Received(static_cast<std::size_t>(n), origin)) {
            if (endRequested.exchange(false) && open) PeerLeft(slot);
            return;
        }
        if (n > 0) listener.BadFrame();
        // 0: the peer closed. An error (a reset) or a frame that cannot be
        // ends the slot the same way, so a dead slot does not spin the loop.
        if (open) PeerLeft(slot);
    }

    void ServeLoop() {
        const SOCKET listening = socket.load();
        while (open) {
            const bool peer = slots[0].load() != INVALID_SOCKET;
            // No login in its time: the slot is free for a Client again. The
            // select below wakes often enough for that.
            if (peer && loginRequired && peerSlot.TimeIsUp()) {
                PeerLeft(0);
                continue;
            }
            // While an operation with the peer runs, its answer is the next
            // message that matters: wait on slot 0 alone (a select pass per
            // message costs about as much again as the exchange). Not for a
            // peer yet to log in, whose time is counted.
            if (!protocol.IsWaiting() && peer && (!loginRequired || peerSlot.LoggedIn())) {
                ReceiveFromSlot(0);
                continue;
            }
            fd_set readSet;
            FD_ZERO(&readSet);
            FD_SET(listening, &readSet);
            for (auto& slot : slots) {
                const SOCKET s = slot.load();
                if (s != INVALID_SOCKET && !FD_ISSET(s, &readSet)) FD_SET(s, &readSet);
            }
            timeval wait = {0, kSelectMicroseconds};
            const int ready = select(0, &readSet, nullptr, nullptr, &wait);
            if (ready == SOCKET_ERROR) {
                if (open) listener.NetworkFailed(NetFailure::Select, WSAGetLastError());
                return;
            }
            if (ready == 0) continue;
            // What the peers sent comes first: a peer that has just left must
            // free its slot before the next one is accepted, or a Client that
            // connects again at once would land beside it and get no answers.
            bool served = false;
            for (int i = 0; i < kPeerSlots && !served; ++i) {
                const SOCKET s = slots[i].load();
                if (s != INVALID_SOCKET && FD_ISSET(s, &readSet)) {
                    ReceiveFromSlot(i);
                    served = true;
                }
            }
            if (!served && FD_ISSET(listening, &readSet)) AcceptPeer(listening);
        }
    }

    // A copy ends each file with small messages in a row (the last block or
    // its answer, the next request): each leaves at once rather than after
    // the peer's delayed acknowledgement of the one before.
    static void SendAtOnce(SOCKET s) {
        const BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    }

    // ---- Client ----
    void ReadLoop() {
        const SOCKET s = socket.load();
        SendAtOnce(s);
        DWORD noTimeout = 0;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&noTimeout), sizeof noTimeout);
        // The Server's folder at once; no rows of an earlier connection stay.
        protocol.StartListing();
        while (open) {
            const int n = recv(s, protocol.ReceiveSpace(), static_cast<int>(protocol.ReceiveSpaceBytes()), 0);
            if (n > 0 && protocol.Received(static_cast<std::size_t>(n))) continue;
            if (!open) break;
            if (n > 0) {
                listener.BadFrame();
                listener.CloseAfter(quorbel::kCloseDelayMs);
            }
            // The Server closed (or reset) without "CUT": nothing more can
            // come. What the operation held is released; the user closes.
            protocol.OnConnectionLost();
            while (open) Sleep(kLostConnectionPollMs);
        }
    }

    static DWORD WINAPI ClientThread(LPVOID self) {
        static_cast<Impl*>(self)->ReadLoop();
        return 0;
    }
    static DWORD WINAPI ServerThread(LPVOID self) {
        static_cast<Impl*>(self)->ServeLoop();
        return 0;
    }

    // ---- Set-up ----
    // A stream socket; INVALID_SOCKET once its failure was reported.
    SOCKET NewSocket() {
        const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
        if (s == INVALID_SOCKET) listener.NetworkFailed(NetFailure::Socket, WSAGetLastError());
        return s;
    }

    // Winsock 2.2 and a stream socket for either role, each failure reported.
    StartResult OpenSetupSocket(SOCKET& s) {
        WSADATA data;
        const int rc = WSAStartup(MAKEWORD(2, 2), &data);
        if (rc != 0) {
            listener.NetworkFailed(NetFailure::Startup, rc);
            return StartResult::StartupFailed;
        }
        if ((s = NewSocket()) == INVALID_SOCKET) {
            WSACleanup();
            return StartResult::SocketFailed;
        }
        return StartResult::Started;
    }

    // A new peer: plain, not logged in, and its folders from C:\ again,
    // whatever the pane showed of an earlier one.
    void StartPeerConnection() {
        protocol.OnConnectionStarted();
        protocol.SetRemoteFolderPath(quorbel::kStartFolder);
    }

    // Either role's protocol for a new connection, with the login text of
    // this side.
    void PrepareProtocol(bool asServer, const ConnectionValues& values) {
        server = asServer;
        loginRequired = asServer && (values.loginRequired || values.requireSecure);
        protocol.SetRole(asServer ? quorbel::Role::Server : quorbel::Role::Client);
        // A secure session is the fast mode's: secure sessions only win
        // over a fast mode turned off.
        protocol.SetHighestVersion(values.fastMode || values.requireSecure ? quorbel::kFastVersion : 0);
        protocol.SetLoginRequired(asServer && values.loginRequired);
        // A Client's rule of secure sessions only is its login policy's.
        protocol.SetSecureRequired(asServer && values.requireSecure);
        protocol.SetServerSalt(asServer ? values.serverSalt : std::string());
        protocol.SetLoginGate(nullptr);  // each peer of a Server gets its own
        protocol.SetMonitorRecording(values.monitorRecording);
        StartPeerConnection();
        protocol.BuildLoginText(AsU16View(values.id), AsU16View(values.pw));
    }

    // `s` may be none already (the question closed it, or it was never made).
    void ReleaseFailedStart(SOCKET s, bool shutdownFirst) {
        if (s != INVALID_SOCKET) {
            if (shutdownFirst) shutdown(s, SD_BOTH);
            closesocket(s);
        }
        WSACleanup();
        settingUp = false;
    }

    // Marks the connection open (the thread loops only while it is) and
    // starts the role's receive thread; on failure everything is released.
    bool StartReceiveThread(SOCKET s, LPTHREAD_START_ROUTINE procedure) {
        socket.store(s);
        winsockStarted = true;
        open = true;
        DWORD id = 0;
        thread = CreateThread(nullptr, 0, procedure, this, 0, &id);
        threadId = id;
        if (thread) return true;
        open = false;
        winsockStarted = false;
        socket.store(INVALID_SOCKET);
        listener.NetworkFailed(NetFailure::Thread, static_cast<int>(GetLastError()));
        ReleaseFailedStart(s, true);
        return false;
    }

    // Started when a PC name resolved into `values.address` (`resolved`
    // is that name, in UTF-8), else the user's answer to the failure.
    StartResult ResolvePeerName(ConnectionValues& values, std::string& resolved) {
        int lastError = WSAHOST_NOT_FOUND;  // also what no name at all means
        for (const std::wstring& name : values.pcNames) {
            if (name.empty()) continue;
            ADDRINFOW hints = {};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            ADDRINFOW* result = nullptr;
            const int rc = GetAddrInfoW(name.c_str(), nullptr, &hints, &result);
            if (rc == 0 && result) {
                const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
                const unsigned char* b = reinterpret_cast<const unsigned char*>(&address->sin_addr);
                for (size_t i = 0; i < 4; ++i) values.address[i] = b[i];
                FreeAddrInfoW(result);
                resolved = ToUtf8(AsU16View(name));
                return StartResult::Started;
            }
            if (result) FreeAddrInfoW(result);
            lastError = rc != 0 ? rc : WSAHOST_NOT_FOUND;
        }
        return listener.RetryLookup(lastError) ? StartResult::Retry : StartResult::NoPeerName;
    }

    // Connects `s` to the Server, the note shown meanwhile: Started, or the
    // user's answer to the failure.
    StartResult ConnectToServer(SOCKET s, const sockaddr_in& address) {
        listener.ShowProgress(ClientSetup::Connecting);
        const bool connected = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != SOCKET_ERROR;
        const int error = connected ? 0 : WSAGetLastError();
        listener.ShowProgress(ClientSetup::Done);
        if (connected) return StartResult::Started;
        return listener.RetryConnect(error) ? StartResult::Retry : StartResult::ConnectRefused;
    }

    // A new connection to the Server for the login, in place of the
    // closed one; on failure everything of the start is released.
    StartResult ConnectAgain(const sockaddr_in& address) {
        const SOCKET s = NewSocket();
        const StartResult connected = s == INVALID_SOCKET ? StartResult::SocketFailed : ConnectToServer(s, address);
        if (connected != StartResult::Started) {
            ReleaseFailedStart(s, false);
            return connected;
        }
        socket.store(s);
        clientSocketNumber = static_cast<long long>(s);
        return connected;
    }

    // The Client's login as the core's policy leads it, on `socket`, which
    // a fall-back to the plain login replaces with a new connection to
    // `address` (`target` names it as the user gave it, in UTF-8). Started
    // once logged in (or in command mode); otherwise everything of the
    // start is released.
    StartResult LogIn(ConnectionValues& values, const sockaddr_in& address, const std::string& target) {
        SecurePeers memory(values, listener, target);
        // The question is always asked: this program has no setting that
        // chooses the plain login for itself.
        quorbel::ClientLogin login(protocol, memory, {values.commandMode, values.requireSecure, false});
        char answer[quorbel::kMaxPlainMessageBytes] = {};
        bool sentHere = false;  // a request went on the connection at hand
        for (quorbel::LoginNext next = login.Start();;) {
            switch (next.step) {
                case quorbel::LoginStep::Receive: {
                    sentHere = true;
                    Sleep(next.pauseMs);
                    const SOCKET s = socket.load();
                    const DWORD timeout = static_cast<DWORD>(next.waitMs);
                    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
                    next = login.Answer(answer, recv(s, answer, sizeof answer, 0));
                    break;
                }
                case quorbel::LoginStep::Ask: {
                    // Nothing of the connection stays while the question is
                    // read: a Server gives a silent one a few seconds only.
                    // Where nothing was sent on it, the plain login goes on a
                    // new one (after a refused offer the policy connects
                    // again itself).
                    CloseSocketNow(socket.exchange(INVALID_SOCKET));
                    const bool yes = listener.LoginInTheClear(memory.Shown());
                    if (yes && !sentHere) {
                        const StartResult connected = ConnectAgain(address);
                        if (connected != StartResult::Started) return connected;
                    }
                    next = login.Reply(yes);
                    break;
                }
                case quorbel::LoginStep::Reconnect: {
                    CloseSocketNow(socket.exchange(INVALID_SOCKET));
                    Sleep(next.pauseMs);
                    const StartResult connected = ConnectAgain(address);
                    if (connected != StartResult::Started) return connected;
                    sentHere = false;
                    next = login.Reconnected();
                    break;
                }
                case quorbel::LoginStep::Done:
                    if (next.result == quorbel::LoginResult::Accepted || next.result == quorbel::LoginResult::Skipped)
                        return StartResult::Started;
                    // Nothing of a refused connection stays while its box is
                    // read: the peer sees it closed at once, and this side
                    // holds no state of it.
                    ReleaseFailedStart(socket.exchange(INVALID_SOCKET), true);
                    protocol.OnConnectionLost();
                    listener.LoginFailed(next.result);
                    return StartResult::LoginFailed;
            }
        }
    }
};

Connection::Connection(ConnectionListener& listener, quorbel::UserSeat& seat)
    : impl_(std::make_unique<Impl>(listener, seat)) {}

Connection::~Connection() {
    if (impl_->open) Close();
}

quorbel::Protocol& Connection::protocol() { return impl_->protocol; }
bool Connection::IsOpen() const { return impl_->open; }
bool Connection::SettingUp() const { return impl_->settingUp; }
bool Connection::PeerPresent() const { return impl_->peerPresent; }
int32_t Connection::ActiveSlotNumber() const { return impl_->activeSlot; }
long long Connection::ClientSocketNumber() const { return impl_->clientSocketNumber; }
bool Connection::ReceiveThreadIsClosing() const { return impl_->ReceiveThreadIsClosing(); }

StartResult Connection::StartClient(ConnectionValues& values) {
    Impl& c = *impl_;
    // One connection at a time: a second start leaves the open one alone.
    if (c.open) return StartResult::Started;
    c.settingUp = true;
    SOCKET s = INVALID_SOCKET;
    const StartResult opened = c.OpenSetupSocket(s);
    if (opened != StartResult::Started) {
        c.settingUp = false;
        return opened;
    }
    // The Server as the user gave it: the PC name that resolves, or the address.
    std::string target = AddressText(values.address);
    if (values.usePcName) {
        c.listener.ShowProgress(ClientSetup::LookingUp);
        const StartResult resolved = c.ResolvePeerName(values, target);
        c.listener.ShowProgress(ClientSetup::Done);
        if (resolved != StartResult::Started) {
            c.ReleaseFailedStart(s, false);
            return resolved;
        }
    }

    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(values.port & 0xFFFF));
    unsigned char* octets = reinterpret_cast<unsigned char*>(&address.sin_addr);
    for (size_t i = 0; i < 4; ++i) octets[i] = static_cast<unsigned char>(values.address[i] & 0xFF);
    const StartResult connected = c.ConnectToServer(s, address);
    if (connected != StartResult::Started) {
        c.ReleaseFailedStart(s, false);
        return connected;
    }
    char host[kMaxPeerHostName + 1] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) == 0) {
        const quorbel::u16 name = AnsiCodecForThread().FromAnsi(host);
        if (!name.empty()) values.peerHostName = ToWide(name);
    }

    c.clientSocketNumber = static_cast<long long>(s);
    c.PrepareProtocol(false, values);
    c.socket.store(s);
    const StartResult loggedIn = c.LogIn(values, address, target);
    if (loggedIn != StartResult::Started) return loggedIn;
    if (!c.StartReceiveThread(c.socket.load(), Impl::ClientThread)) return StartResult::NoThread;
    c.settingUp = false;
    return StartResult::Started;
}

StartResult Connection::StartServer(const ConnectionValues& values) {
    Impl& c = *impl_;
    if (c.open) return StartResult::Started;
    c.settingUp = true;
    SOCKET s = INVALID_SOCKET;
    const StartResult opened = c.OpenSetupSocket(s);
    if (opened != StartResult::Started) {
        c.settingUp = false;
        return opened;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(values.port & 0xFFFF));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        c.listener.NetworkFailed(NetFailure::Bind, WSAGetLastError());
        c.ReleaseFailedStart(s, false);
        return StartResult::BindFailed;
    }
    if (listen(s, quorbel::kListenBacklog) == SOCKET_ERROR) {
        c.listener.NetworkFailed(NetFailure::Listen, WSAGetLastError());
        c.ReleaseFailedStart(s, false);
        return StartResult::ListenFailed;
    }
    // The login text is ready before the first peer can ask.
    c.PrepareProtocol(true, values);
    c.peerSlot.ServerOpens();
    for (auto& slot : c.slots) slot.store(INVALID_SOCKET);
    c.activeSlot = 0;
    if (!c.StartReceiveThread(s, Impl::ServerThread)) return StartResult::NoThread;
    c.settingUp = false;
    return StartResult::Started;
}

void Connection::Close() {
    Impl& c = *impl_;
    // The receive thread stops at its next return from recv or select, or
    // from a wait of the login guard.
    c.open = false;
    c.peerSlot.ServerCloses();
    const SOCKET s = c.socket.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) {
        shutdown(s, SD_BOTH);
        const int rc = closesocket(s);
        if (rc != 0) {
            c.listener.NetworkFailed(NetFailure::CloseSocket, rc);
            return;
        }
    }
    // A Server thread may wait in recv on its peer: closing the accepted
    // sockets wakes it (a shutdown alone does not everywhere).
    for (auto& slot : c.slots) CloseSocketNow(slot.exchange(INVALID_SOCKET));
    if (c.thread) {
        // Serve what the thread sends to this thread's windows meanwhile, so
        // a thread caught in SendMessage can end.
        for (;;) {
            const DWORD r = MsgWaitForMultipleObjects(1, &c.thread, FALSE, kCloseWaitSliceMs, QS_SENDMESSAGE);
            if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) break;
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(c.thread);
        c.thread = nullptr;
        c.threadId = 0;
    }
    // One accepted while the thread was ending.
    for (auto& slot : c.slots) CloseSocketNow(slot.exchange(INVALID_SOCKET));
    c.peerPresent = false;
    c.protocol.OnConnectionLost();
    if (c.winsockStarted) {
        c.winsockStarted = false;
        const int rc = WSACleanup();
        if (rc != 0) c.listener.NetworkFailed(NetFailure::Cleanup, rc);
    }
}
