// The TCP connection: the Client's connect and login, the Server's listen
// and accept loop, the receive threads, and the orderly close.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/protocol.h"
#include "core/socket_errors.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "net/net_internal.h"
#include "res/resource.h"

namespace {

constexpr int kPeerSlots = 10;
constexpr int kListenBacklog = 3;
constexpr DWORD kLoginAnswerWaitMs = 3000;
constexpr DWORD kLoginSendPauseMs = 100;
constexpr long kSelectMicroseconds = 500000;
constexpr DWORD kLostConnectionPollMs = 50;
constexpr DWORD kCloseWaitSliceMs = 50;

// Everything about the one connection. Values that both threads touch are
// atomic; the rest belongs to the window thread.
struct Connection {
    HWND mainWindow = nullptr;
    // Client: the connected socket; Server: the listening socket.
    std::atomic<SOCKET> socket{INVALID_SOCKET};
    std::atomic<SOCKET> slots[kPeerSlots];
    // The address each slot's peer had when it was accepted.
    sockaddr_in slotAddress[kPeerSlots] = {};
    std::atomic<int32_t> currentSlot{0};
    std::atomic<int32_t> serverRole{0};
    HANDLE thread = nullptr;
    std::atomic<DWORD> threadId{0};
    bool winsockStarted = false;

    Connection() {
        for (auto& slot : slots) slot.store(INVALID_SOCKET);
    }
};

Connection g_conn;

// A box whose text is one number in its format ("%d", "Err No.%d", ...).
void ShowNumberBox(HWND owner, const wchar_t* format, int value, const wchar_t* caption) {
    wchar_t text[64] = {};
    _snwprintf(text, ARRAYSIZE(text) - 1, format, value);
    ShowMessageBox(owner, text, caption, MB_OK);
}

// "[192,168,1,20]" of an IPv4 address.
std::wstring BracketedAddress(const sockaddr_in& address) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address.sin_addr);
    wchar_t text[32] = {};
    _snwprintf(text, ARRAYSIZE(text) - 1, L"[%d,%d,%d,%d]", b[0], b[1], b[2], b[3]);
    return text;
}

// The peer's address of a slot as the header shows it; the address kept at
// accept when the socket can no longer tell it (a reset connection).
std::wstring SlotAddressText(int slot) {
    sockaddr_in address = {};
    int length = sizeof address;
    if (getpeername(g_conn.slots[slot].load(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        address = g_conn.slotAddress[slot];
    return BracketedAddress(address);
}

void SetConnectionHeaderFromThread(const std::wstring& text) {
    HWND main = g_conn.mainWindow;
    if (main) SetDlgItemTextW(main, IDC_CONN_HEADER, text.c_str());
}

void CloseSocketNow(SOCKET s) {
    if (s == INVALID_SOCKET) return;
    shutdown(s, SD_BOTH);
    closesocket(s);
}

// Waits for the receive thread while serving the messages it sends to the
// window thread's controls, so that a thread caught in SendMessage can end.
void WaitServingSentMessages(HANDLE thread) {
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, kCloseWaitSliceMs, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD code = 0;
        if (GetExitCodeThread(thread, &code) && code != STILL_ACTIVE) return;
    }
}

// ---- Server ----------------------------------------------------------------

void AcceptPeer(SOCKET listener) {
    int free = -1;
    for (int i = 0; i < kPeerSlots && free < 0; ++i)
        if (g_conn.slots[i].load() == INVALID_SOCKET) free = i;
    if (free < 0) {
        // No slot left: the connection is taken and ended at once.
        SOCKET extra = accept(listener, nullptr, nullptr);
        if (extra != INVALID_SOCKET) closesocket(extra);
        return;
    }
    g_conn.currentSlot = free;
    sockaddr_in address = {};
    int length = sizeof address;
    SOCKET peer = accept(listener, reinterpret_cast<sockaddr*>(&address), &length);
    if (peer == INVALID_SOCKET) return;
    g_conn.slotAddress[free] = address;
    g_conn.slots[free].store(peer);
    if (CountPeers() == 0) return;
    SetConnectionHeaderFromThread(L"Server:Conection:" + SlotAddressText(free));
    // The lowest free slot is taken, so slot 0 (the peer) is occupied now.
    g_shell.peerPresent = 1;
    RefreshStatusBar();
}

void PeerLeft(int slot) {
    const std::wstring text = L"Server:CutOFF:" + SlotAddressText(slot);
    if (slot == 0) {
        // The peer is gone: its rows, its listing and any half-done
        // operation with it go too.
        TheProtocol().state.autoListing.store(0);
        if (g_shell.rightPane) SendMessageW(g_shell.rightPane, LVM_DELETEALLITEMS, 0, 0);
        TheProtocol().OnConnectionLost();
        TheProtocol().state.operationState.store(quorbel::Waiting);
    }
    SetConnectionHeaderFromThread(text);
    SOCKET s = g_conn.slots[slot].exchange(INVALID_SOCKET);
    if (slot == 0) g_shell.peerPresent = 0;
    RefreshStatusBar();
    CloseSocketNow(s);
}

void ReceiveFromSlot(int slot) {
    g_conn.currentSlot = slot;
    // The status bar names the slot that spoke last.
    if (g_shell.activeSlotNumber.exchange(slot + 1) != slot + 1) RefreshStatusBar();
    char buffer[quorbel::kRecvBufferBytes] = {};
    int n = recv(g_conn.slots[slot].load(), buffer, quorbel::kMaxMessageBytes, 0);
    if (n > 0) {
        TheProtocol().Receive(buffer, n);
        return;
    }
    // 0: the peer closed. An error (a reset) ends the slot the same way, so
    // a dead slot does not stay readable and spin the loop.
    if (g_shell.connectionOpen == 1) PeerLeft(slot);
}

// While an operation with the peer runs, the peer's answer is the next
// message that matters: the loop waits on slot 0 alone with a plain recv
// (a select pass per message costs about as much again as the exchange).
// New connections and the other slots wait until the state is Waiting.
bool ExchangeWithPeerRunning() {
    return TheProtocol().state.operationState.load() != quorbel::Waiting &&
           g_conn.slots[0].load() != INVALID_SOCKET;
}

// ---- Client ----------------------------------------------------------------

void CopyPeerHostName(const sockaddr_in& address) {
    char host[kPeerHostChars] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return;  // the previous name stays
    wchar_t wide[kPeerHostChars] = {};
    if (MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, host, -1, wide, kPeerHostChars - 1) > 0)
        CopyText(g_shell.peerHostName, wide);
}

std::wstring ConnectErrorText(int error) {
    char16_t reason[128] = {};
    quorbel::SocketErrorText(error, reason, ARRAYSIZE(reason));
    wchar_t text[512] = {};
    _snwprintf(text, ARRAYSIZE(text) - 1,
               L"接続エラー(ErrNo.%d)\r\n%ls\r\n相手側を先にOPENして下さい\r\n再接続はYES、接続しないはNO", error,
               AsWide(reason));
    return text;
}

void ReleaseFailedStart(SOCKET s, bool shutdownFirst) {
    if (shutdownFirst) shutdown(s, SD_BOTH);
    closesocket(s);
    WSACleanup();
    g_shell.setupInProgress = 0;
}

}  // namespace

bool ReceiveThreadIsClosing() {
    return g_shell.connectionOpen == 0 && GetCurrentThreadId() == g_conn.threadId.load();
}

SOCKET SendTargetSocket() {
    return g_conn.serverRole.load() == 1 ? g_conn.slots[0].load() : g_conn.socket.load();
}

int CountPeers() {
    if (g_shell.serverMode == 0) return 0;
    int count = 0;
    for (auto& slot : g_conn.slots) {
        SOCKET s = slot.load();
        if (s != INVALID_SOCKET && s != 0) ++count;
    }
    return count;
}

int ResolvePeerName(HWND owner) {
    int lastError = WSAHOST_NOT_FOUND;  // also what no name at all means
    for (const auto& name : g_settings.pcNames) {
        if (name[0] == L'\0') continue;
        ADDRINFOW hints = {};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        ADDRINFOW* result = nullptr;
        int rc = GetAddrInfoW(name, nullptr, &hints, &result);
        if (rc == 0 && result) {
            const sockaddr_in* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
            const unsigned char* b = reinterpret_cast<const unsigned char*>(&address->sin_addr);
            for (int i = 0; i < 4; ++i) g_settings.targetAddress[i] = b[i];
            FreeAddrInfoW(result);
            return 0;
        }
        if (result) FreeAddrInfoW(result);
        lastError = rc != 0 ? rc : WSAHOST_NOT_FOUND;
    }
    wchar_t text[128] = {};
    _snwprintf(text, ARRAYSIZE(text) - 1, L"PC名確認(ErrNo.%d)\r\n再接続はYES、接続しないはNO", lastError);
    return ShowMessageBox(owner, text, L"PC名確認_Error", MB_YESNO) == IDYES ? -1 : 1;
}

bool SendLogin(HWND mainWindow) {
    quorbel::Protocol& protocol = TheProtocol();
    protocol.SendLoginRequest();
    Sleep(kLoginSendPauseMs);
    const SOCKET s = g_conn.socket.load();
    DWORD timeout = kLoginAnswerWaitMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    std::memset(protocol.state.recvBuf, 0, sizeof protocol.state.recvBuf);
    int received = recv(s, protocol.state.recvBuf, quorbel::kMaxMessageBytes, 0);
    switch (protocol.CheckLoginAnswer(received)) {
        case quorbel::LoginAnswer::Accepted:
            return true;
        case quorbel::LoginAnswer::Rejected:
            ShowMessageBox(mainWindow, AsWide(quorbel::kLoginRejectedText), AsWide(quorbel::kLoginErrorCaption),
                           MB_OK);
            return false;
        case quorbel::LoginAnswer::CommunicationError:
        default:
            ShowMessageBox(mainWindow, AsWide(quorbel::kLoginCommErrorText), AsWide(quorbel::kLoginErrorCaption),
                           MB_OK);
            return false;
    }
}

DWORD WINAPI Read1Thread(LPVOID) {
    if (g_shell.serverMode != 0) {
        // Never started this way by the program; shown once, nothing received.
        ShowMessageBox(nullptr, L"ClientThreadでSreverModeで実行された", L"Read1Thread", MB_OK);
        return 0;
    }
    const SOCKET s = g_conn.socket.load();
    DWORD noTimeout = 0;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&noTimeout), sizeof noTimeout);

    quorbel::Protocol& protocol = TheProtocol();
    // The Server's folder at once; no rows of an earlier connection stay.
    protocol.StartListing();

    char buffer[quorbel::kRecvBufferBytes];
    while (g_shell.connectionOpen == 1) {
        std::memset(buffer, 0, sizeof buffer);
        int n = recv(s, buffer, quorbel::kMaxMessageBytes, 0);
        if (n > 0) {
            protocol.Receive(buffer, n);
            continue;
        }
        if (g_shell.connectionOpen != 1) break;
        // The Server closed (or reset) without "CUT": nothing more can come.
        // Release what the operation held and wait for the user's close.
        protocol.OnConnectionLost();
        EndOperationWithConnection();
        while (g_shell.connectionOpen == 1) Sleep(kLostConnectionPollMs);
    }
    return 0;
}

DWORD WINAPI ServerThread(LPVOID listeningSocket) {
    const SOCKET listener = *static_cast<const std::atomic<SOCKET>*>(listeningSocket);
    DWORD noTimeout = 0;
    setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&noTimeout), sizeof noTimeout);

    while (g_shell.connectionOpen == 1) {
        if (ExchangeWithPeerRunning()) {
            ReceiveFromSlot(0);
            continue;
        }
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(listener, &readSet);
        for (auto& slot : g_conn.slots) {
            SOCKET s = slot.load();
            if (s != INVALID_SOCKET && !FD_ISSET(s, &readSet)) FD_SET(s, &readSet);
        }
        timeval wait = {0, kSelectMicroseconds};
        int ready = select(0, &readSet, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR) {
            if (g_shell.connectionOpen == 1)
                ShowMessageBox(nullptr, L"Failed in execution of select.", L"select_Error", MB_OK);
            break;
        }
        if (ready == 0) continue;
        if (FD_ISSET(listener, &readSet)) {
            AcceptPeer(listener);
            continue;
        }
        for (int i = 0; i < kPeerSlots; ++i) {
            SOCKET s = g_conn.slots[i].load();
            if (s != INVALID_SOCKET && FD_ISSET(s, &readSet)) {
                ReceiveFromSlot(i);
                break;
            }
        }
    }
    return 0;
}

// Winsock 2.2 and a stream socket for either role, each failure shown with
// its box: kClientConnected, kClientStartupFailed or kClientSocketFailed.
static int OpenSetupSocket(HWND mainWindow, SOCKET& s) {
    WSADATA data;
    int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) {
        ShowNumberBox(mainWindow, L"%d", rc, L"WSAStartup_Error");
        return kClientStartupFailed;
    }
    s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        ShowNumberBox(mainWindow, L"Err No.%d", WSAGetLastError(), L"sockRecv_Error");
        WSACleanup();
        return kClientSocketFailed;
    }
    return kClientConnected;
}

// Marks the connection open (the thread loops only while it is) and starts
// the role's receive thread; on failure everything opened is released.
static bool StartReceiveThread(HWND mainWindow, SOCKET s, LPTHREAD_START_ROUTINE procedure, void* parameter) {
    g_conn.winsockStarted = true;
    g_shell.connectionOpen = 1;
    DWORD threadId = 0;
    g_conn.thread = CreateThread(nullptr, 0, procedure, parameter, 0, &threadId);
    g_conn.threadId = threadId;
    if (g_conn.thread) return true;
    g_shell.connectionOpen = 0;
    g_conn.winsockStarted = false;
    ShowNumberBox(mainWindow, L"Thread Error No.%d", static_cast<int>(GetLastError()), L"CreateThread");
    g_conn.socket.store(INVALID_SOCKET);
    ReleaseFailedStart(s, true);
    return false;
}

int StartClient(HWND mainWindow) {
    // One connection at a time: a second start leaves the open one alone.
    if (g_shell.connectionOpen == 1) return kClientConnected;
    g_conn.mainWindow = mainWindow;
    g_shell.setupInProgress = 1;
    EnsureTimerRelay();

    SOCKET s = INVALID_SOCKET;
    const int failed = OpenSetupSocket(mainWindow, s);
    if (failed != kClientConnected) {
        g_shell.setupInProgress = 0;
        return failed;
    }

    if (g_settings.usePcName) {
        ShowProgressNotice(mainWindow, 1);
        int resolved = ResolvePeerName(mainWindow);
        CloseProgressNotice();
        if (resolved != 0) {
            ReleaseFailedStart(s, false);
            return resolved == -1 ? kClientRetry : kClientNoPeer;
        }
    }

    ShowProgressNotice(mainWindow, 2);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(g_settings.port & 0xFFFF));
    unsigned char* octets = reinterpret_cast<unsigned char*>(&address.sin_addr);
    for (int i = 0; i < 4; ++i) octets[i] = static_cast<unsigned char>(g_settings.targetAddress[i] & 0xFF);
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        int error = WSAGetLastError();
        CloseProgressNotice();
        int answer = ShowMessageBox(mainWindow, ConnectErrorText(error).c_str(), L"connect_Error", MB_YESNO);
        ReleaseFailedStart(s, false);
        return answer == IDYES ? kClientRetry : kClientConnectRefused;
    }
    CloseProgressNotice();
    CopyPeerHostName(address);

    g_shell.clientSocketNumber = static_cast<int64_t>(s);
    quorbel::Protocol& protocol = TheProtocol();
    protocol.state.serverMode.store(0);
    g_conn.serverRole = 0;
    g_conn.socket.store(s);
    protocol.BuildLoginText(AsU16View(g_shell.loginId), AsU16View(g_shell.loginPw));

    if (!g_shell.commandMode && !SendLogin(mainWindow)) {
        g_conn.socket.store(INVALID_SOCKET);
        ReleaseFailedStart(s, true);
        return kClientLoginFailed;
    }

    protocol.SetRemoteFolderPath(AsU16View(g_shell.remotePath));
    protocol.OnConnectionLost();  // nothing of an earlier connection stays open
    if (!StartReceiveThread(mainWindow, s, Read1Thread, nullptr)) return kClientNoPeer;
    g_shell.setupInProgress = 0;
    return kClientConnected;
}

bool StartServer(HWND mainWindow) {
    if (g_shell.connectionOpen == 1) return true;
    g_shell.setupInProgress = 1;
    g_conn.mainWindow = mainWindow;
    EnsureTimerRelay();

    SOCKET s = INVALID_SOCKET;
    if (OpenSetupSocket(mainWindow, s) != kClientConnected) {
        g_shell.setupInProgress = 0;
        return false;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(g_settings.port & 0xFFFF));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        ShowNumberBox(mainWindow, L"Err No.%d", WSAGetLastError(), L"bind_Error");
        ReleaseFailedStart(s, false);
        return false;
    }
    if (listen(s, kListenBacklog) == SOCKET_ERROR) {
        ShowNumberBox(mainWindow, L"Err No.%d", WSAGetLastError(), L"listen_Error");
        ReleaseFailedStart(s, false);
        return false;
    }

    quorbel::Protocol& protocol = TheProtocol();
    protocol.state.serverMode.store(1);
    // The login text is ready before the first peer can ask.
    protocol.BuildLoginText(AsU16View(g_shell.storedId), AsU16View(g_shell.storedPw));
    protocol.SetRemoteFolderPath(AsU16View(g_shell.remotePath));
    protocol.OnConnectionLost();
    for (auto& slot : g_conn.slots) slot.store(INVALID_SOCKET);
    g_conn.serverRole = 1;
    g_conn.socket.store(s);
    if (!StartReceiveThread(mainWindow, s, ServerThread, &g_conn.socket)) return false;
    g_shell.setupInProgress = 0;
    return true;
}

void CloseConnection(HWND mainWindow) {
    // The receive thread stops at its next return from recv or select.
    g_shell.connectionOpen = 0;
    SOCKET s = g_conn.socket.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) {
        shutdown(s, SD_BOTH);
        int rc = closesocket(s);
        if (rc != 0) {
            ShowNumberBox(mainWindow, L"%d", rc, L"closesocket_Error");
            return;
        }
    }
    // A Server thread may wait in recv on its peer: closing the accepted
    // sockets wakes it (a shutdown alone does not everywhere).
    for (auto& slot : g_conn.slots) CloseSocketNow(slot.exchange(INVALID_SOCKET));
    if (g_conn.thread) {
        WaitServingSentMessages(g_conn.thread);
        CloseHandle(g_conn.thread);
        g_conn.thread = nullptr;
        g_conn.threadId = 0;
    }
    // One accepted while the thread was ending.
    for (auto& slot : g_conn.slots) CloseSocketNow(slot.exchange(INVALID_SOCKET));
    g_shell.peerPresent = 0;
    TheProtocol().OnConnectionLost();
    TheProtocol().state.operationState.store(quorbel::Waiting);
    if (g_conn.winsockStarted) {
        g_conn.winsockStarted = false;
        int rc = WSACleanup();
        if (rc != 0) ShowNumberBox(mainWindow, L"%d", rc, L"WSACleanup");
    }
}
