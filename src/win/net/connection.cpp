// The Client's connect and login, the Server's listen and accept loop, the
// receive threads, and the orderly close.
#include "win/net/connection.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstring>

#include "core/base/path_rules.h"
#include "core/base/socket_errors.h"
#include "core/base/texts.h"
#include "win/net/protocol_host.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;

constexpr int kPeerSlots = 10;
constexpr DWORD kLoginSendPauseMs = 100;
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
    explicit Impl(ConnectionListener& l)
        : listener(l),
          host(l, [this] { return SendTarget(); }, [this] { return ReceiveThreadIsClosing(); },
               [this] { EndServedConnection(); }),
          protocol(host) {
        for (auto& slot : slots) slot.store(INVALID_SOCKET);
    }

    ConnectionListener& listener;
    WinProtocolHost host;
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
    std::atomic<bool> badFrameShown{false};
    std::atomic<bool> loginRequired{false};  // Server: as the values said at its start
    std::atomic<bool> endRequested{false};   // Server: drop the slot being served once its message is done

    SOCKET SendTarget() const { return server ? slots[0].load() : socket.load(); }
    // The receive thread's last answers while the connection closes have
    // nowhere to go: they are dropped without an error box.
    bool ReceiveThreadIsClosing() const { return !open && GetCurrentThreadId() == threadId.load(); }

    // The core ends the connection it serves (too many wrong login pairs).
    // The Client closes as after a broken frame; the Server drops that peer
    // once the message is handled and goes on listening.
    void EndServedConnection() {
        if (server) endRequested = true;
        else listener.CloseAfter(quorbel::kCloseDelayMs);
    }

    void BadFrame() {
        host.ShowDetached(AsWide(texts::kBadFrame.text), AsWide(texts::kBadFrame.caption), &badFrameShown);
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
        // from C:\ of this side's right pane.
        if (free == 0) StartPeerConnection();
        slots[free].store(peer);
        listener.PeerHeader(L"Server:Conection:" + SlotAddressText(free));
        // The lowest free slot is taken, so slot 0 is occupied now.
        peerPresent = true;
        listener.StatusChanged();
    }

    void PeerLeft(int slot) {
        const std::wstring text = L"Server:CutOFF:" + SlotAddressText(slot);
        // The peer's rows, its listing and any operation with it go with it.
        if (slot == 0) {
            listener.ClearRemoteRows();
            protocol.OnConnectionLost();
        }
        listener.PeerHeader(text);
        SOCKET s = slots[slot].exchange(INVALID_SOCKET);
        if (slot == 0) peerPresent = false;
        listener.StatusChanged();
        CloseSocketNow(s);
    }

    void ReceiveFromSlot(int slot) {
        const bool peer = slot == 0;
        const int n = recv(slots[slot].load(), protocol.ReceiveSpace(peer),
                           static_cast<int>(protocol.ReceiveSpaceBytes(peer)), 0);
        // The status bar names the slot that spoke last: waiting on the peer
        // alone during an operation is no word from it yet.
        if (open && activeSlot.exchange(slot + 1) != slot + 1) listener.StatusChanged();
        if (n > 0 && protocol.Received(static_cast<std::size_t>(n), peer)) {
            if (endRequested.exchange(false) && open) PeerLeft(slot);
            return;
        }
        if (n > 0) BadFrame();
        // 0: the peer closed. An error (a reset) or a frame that cannot be
        // ends the slot the same way, so a dead slot does not spin the loop.
        if (open) PeerLeft(slot);
    }

    void ServeLoop() {
        const SOCKET listening = socket.load();
        while (open) {
            // While an operation with the peer runs, its answer is the next
            // message that matters: wait on slot 0 alone (a select pass per
            // message costs about as much again as the exchange).
            if (!protocol.IsWaiting() && slots[0].load() != INVALID_SOCKET) {
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
                if (open) ShowBox(nullptr, texts::kSelectFailed, MB_OK);
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
                BadFrame();
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
    // Winsock 2.2 and a stream socket for either role, each failure shown.
    StartResult OpenSetupSocket(HWND owner, SOCKET& s) {
        WSADATA data;
        const int rc = WSAStartup(MAKEWORD(2, 2), &data);
        if (rc != 0) {
            ShowBox(owner, texts::kStartupFailed, MB_OK, {rc});
            return StartResult::StartupFailed;
        }
        s = ::socket(AF_INET, SOCK_STREAM, 0);
        if (s == INVALID_SOCKET) {
            ShowBox(owner, texts::kSocketFailed, MB_OK, {WSAGetLastError()});
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
        loginRequired = asServer && values.loginRequired;
        protocol.SetRole(asServer ? quorbel::Role::Server : quorbel::Role::Client);
        protocol.SetHighestVersion(values.fastMode ? quorbel::kFastVersion : 0);
        protocol.SetLoginRequired(loginRequired);
        protocol.SetMonitorRecording(values.monitorRecording);
        StartPeerConnection();
        protocol.BuildLoginText(AsU16View(values.id), AsU16View(values.pw));
    }

    void ReleaseFailedStart(SOCKET s, bool shutdownFirst) {
        if (shutdownFirst) shutdown(s, SD_BOTH);
        closesocket(s);
        WSACleanup();
        settingUp = false;
    }

    // Marks the connection open (the thread loops only while it is) and
    // starts the role's receive thread; on failure everything is released.
    bool StartReceiveThread(HWND owner, SOCKET s, LPTHREAD_START_ROUTINE procedure) {
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
        ShowBox(owner, texts::kThreadFailed, MB_OK, {static_cast<int>(GetLastError())});
        ReleaseFailedStart(s, true);
        return false;
    }

    // Started when a PC name resolved into `values.address`, else the
    // user's answer to the failure.
    StartResult ResolvePeerName(HWND owner, ConnectionValues& values) {
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
                return StartResult::Started;
            }
            if (result) FreeAddrInfoW(result);
            lastError = rc != 0 ? rc : WSAHOST_NOT_FOUND;
        }
        const int answer = ShowBox(owner, texts::kPcNameNotFound, MB_YESNO, {lastError});
        return answer == IDYES ? StartResult::Retry : StartResult::NoPeerName;
    }

    // The login exchange: null when it was accepted, else the box that says
    // why not; &kPlainOnly when the Server knows only the plain login.
    static constexpr quorbel::BoxText kPlainOnly{u"", u""};
    const quorbel::BoxText* SendLogin(SOCKET s) {
        char answer[quorbel::kMaxPlainMessageBytes] = {};
        int received;
        quorbel::LoginAnswer taken;
        // A Server of an older release refuses a newer secure offer and takes an older one.
        do {
            if (protocol.SendLoginRequest() != 0) return &texts::kLoginCommunication;
            Sleep(kLoginSendPauseMs);
            DWORD timeout = quorbel::kLoginAnswerWaitMs;
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
            received = recv(s, answer, sizeof answer, 0);
            taken = protocol.TakeLoginAnswer(answer, received);
        } while (taken == quorbel::LoginAnswer::OfferAgain);
        switch (taken) {
            case quorbel::LoginAnswer::Accepted: return nullptr;
            case quorbel::LoginAnswer::Rejected: return &texts::kLoginRejected;
            case quorbel::LoginAnswer::NotAPeer: return &texts::kLoginNotAPeer;
            case quorbel::LoginAnswer::PlainOnly: return &kPlainOnly;
            // Closed before any answer: a peer busy with another Client does so.
            default: return received == 0 ? &texts::kLoginPeerClosed : &texts::kLoginCommunication;
        }
    }
};

Connection::Connection(ConnectionListener& listener) : impl_(std::make_unique<Impl>(listener)) {}

Connection::~Connection() {
    if (impl_->open) Close(nullptr);
}

quorbel::Protocol& Connection::protocol() { return impl_->protocol; }
bool Connection::IsOpen() const { return impl_->open; }
bool Connection::SettingUp() const { return impl_->settingUp; }
bool Connection::PeerPresent() const { return impl_->peerPresent; }
int32_t Connection::ActiveSlotNumber() const { return impl_->activeSlot; }
long long Connection::ClientSocketNumber() const { return impl_->clientSocketNumber; }

StartResult Connection::StartClient(HWND owner, ConnectionValues& values) {
    Impl& c = *impl_;
    // One connection at a time: a second start leaves the open one alone.
    if (c.open) return StartResult::Started;
    c.settingUp = true;
    SOCKET s = INVALID_SOCKET;
    const StartResult opened = c.OpenSetupSocket(owner, s);
    if (opened != StartResult::Started) {
        c.settingUp = false;
        return opened;
    }
    if (values.usePcName) {
        c.listener.ShowProgress(ClientSetup::LookingUp);
        const StartResult resolved = c.ResolvePeerName(owner, values);
        c.listener.ShowProgress(ClientSetup::Done);
        if (resolved != StartResult::Started) {
            c.ReleaseFailedStart(s, false);
            return resolved;
        }
    }

    c.listener.ShowProgress(ClientSetup::Connecting);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(values.port & 0xFFFF));
    unsigned char* octets = reinterpret_cast<unsigned char*>(&address.sin_addr);
    for (size_t i = 0; i < 4; ++i) octets[i] = static_cast<unsigned char>(values.address[i] & 0xFF);
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        c.listener.ShowProgress(ClientSetup::Done);
        const int answer = ShowBox(owner, texts::kConnectFailed, MB_YESNO, {error, quorbel::SocketErrorText(error)});
        c.ReleaseFailedStart(s, false);
        return answer == IDYES ? StartResult::Retry : StartResult::ConnectRefused;
    }
    c.listener.ShowProgress(ClientSetup::Done);
    char host[quorbel::kMaxPeerHostName + 1] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) == 0) {
        const quorbel::u16 name = AnsiCodecForThread().FromAnsi(host);
        if (!name.empty()) values.peerHostName = ToWide(name);
    }

    c.clientSocketNumber = static_cast<long long>(s);
    c.PrepareProtocol(false, values);
    c.socket.store(s);
    if (const quorbel::BoxText* refused = values.commandMode ? nullptr : c.SendLogin(s)) {
        // Nothing of a refused connection stays while the box is read: the
        // peer sees it closed at once, and this side holds no state of it.
        c.socket.store(INVALID_SOCKET);
        c.ReleaseFailedStart(s, true);
        c.protocol.OnConnectionLost();
        if (refused == &Impl::kPlainOnly) return PlainLogin(owner, values);
        ShowBox(owner, *refused, MB_OK);
        return StartResult::LoginFailed;
    }
    if (c.protocol.Secure()) values.securePeers = quorbel::WithSecurePeer(values.securePeers, PeerText(values));
    if (!c.StartReceiveThread(owner, s, Impl::ClientThread)) return StartResult::NoThread;
    c.settingUp = false;
    return StartResult::Started;
}

// "a.b.c.d:port" of the Server a Client connects to.
std::string Connection::PeerText(const ConnectionValues& values) {
    std::string text;
    for (size_t i = 0; i < 4; ++i) text += std::to_string(values.address[i] & 0xFF) + (i < 3 ? "." : ":");
    return text + std::to_string(values.port & 0xFFFF);
}

// The Server answered the secure offer "NAK": it knows only the plain
// login, which a second connection makes, the pair in the clear. Where a
// secure session was had before, the user decides first: a path that
// drops the offer must not get the pair unasked.
StartResult Connection::PlainLogin(HWND owner, ConnectionValues& values) {
    const std::string peer = PeerText(values);
    const quorbel::u16 shown = quorbel::FromAscii(peer);
    if (quorbel::KnowsSecurePeer(values.securePeers, peer) &&
        ShowBox(owner, texts::kLoginNoLongerSecure, MB_YESNO, {quorbel::u16view(shown)}) != IDYES)
        return StartResult::LoginFailed;
    Sleep(quorbel::kPlainLoginPauseMs);
    ConnectionValues plain = values;
    plain.fastMode = false;
    plain.usePcName = false;  // the address it resolved to
    const StartResult result = StartClient(owner, plain);
    values.peerHostName = plain.peerHostName;
    return result;
}

StartResult Connection::StartServer(HWND owner, const ConnectionValues& values) {
    Impl& c = *impl_;
    if (c.open) return StartResult::Started;
    c.settingUp = true;
    SOCKET s = INVALID_SOCKET;
    const StartResult opened = c.OpenSetupSocket(owner, s);
    if (opened != StartResult::Started) {
        c.settingUp = false;
        return opened;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(values.port & 0xFFFF));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        ShowBox(owner, texts::kBindFailed, MB_OK, {WSAGetLastError()});
        c.ReleaseFailedStart(s, false);
        return StartResult::BindFailed;
    }
    if (listen(s, quorbel::kListenBacklog) == SOCKET_ERROR) {
        ShowBox(owner, texts::kListenFailed, MB_OK, {WSAGetLastError()});
        c.ReleaseFailedStart(s, false);
        return StartResult::ListenFailed;
    }
    // The login text is ready before the first peer can ask.
    c.PrepareProtocol(true, values);
    for (auto& slot : c.slots) slot.store(INVALID_SOCKET);
    c.activeSlot = 0;
    if (!c.StartReceiveThread(owner, s, Impl::ServerThread)) return StartResult::NoThread;
    c.settingUp = false;
    return StartResult::Started;
}

void Connection::Close(HWND owner) {
    Impl& c = *impl_;
    // The receive thread stops at its next return from recv or select.
    c.open = false;
    const SOCKET s = c.socket.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) {
        shutdown(s, SD_BOTH);
        const int rc = closesocket(s);
        if (rc != 0) {
            ShowBox(owner, texts::kCloseSocketFailed, MB_OK, {rc});
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
        if (rc != 0) ShowBox(owner, texts::kCleanupFailed, MB_OK, {rc});
    }
}
