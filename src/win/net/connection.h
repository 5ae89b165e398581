// The TCP connection in the Client and Server roles, its receive thread and
// the protocol it carries. It knows nothing of the windows above it: it
// takes the values a connection needs when it starts and reports through a
// listener.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "core/base/limits.h"
#include "core/protocol/protocol.h"
#include "win/base/client_setup.h"

// What the connection tells the window above it. Called on the receive
// thread unless marked otherwise.
class ConnectionListener {
public:
    virtual ~ConnectionListener() = default;
    // The operation state or the connection changed: show them.
    virtual void StatusChanged() = 0;
    // Server: a peer came or went ("Server:Conection:[..]", "Server:CutOFF:[..]").
    virtual void PeerHeader(const std::wstring& text) = 0;
    virtual void ClearRemoteRows() = 0;
    virtual void AddRemoteRow(const quorbel::PaneRow& row, int32_t recordNumber) = 0;
    // Close the connection after this many milliseconds (from any thread).
    virtual void CloseAfter(UINT milliseconds) = 0;
    // Window thread, while the Client sets up.
    virtual void ShowProgress(ClientSetup step) = 0;
    // An operation ended, served or started here.
    virtual void OperationEnded(const quorbel::OperationReport&) {}
};

// What a connection needs from the settings, read when it starts.
struct ConnectionValues {
    bool server = false;
    int32_t port = quorbel::kDefaultPort;  // the low 16 bits are the TCP port
    std::array<int32_t, 4> address = {};  // Client: the Server's; a resolved PC name replaces it
    bool usePcName = false;
    std::array<std::wstring, quorbel::kPcNameCount> pcNames;
    bool commandMode = false;  // Client: no login exchange
    std::wstring id, pw;       // Server: the stored pair; Client: the typed one
    bool fastMode = true;
    // Server: serve a connection only once it logged in, and no further
    // connection beside the peer.
    bool loginRequired = true;
    int32_t monitorRecording = 0;  // as read: the monitor rings record while it is 1
    std::wstring peerHostName;  // Client: set from the connected Server when it can be looked up
    // Client: the Servers it had secure sessions with (see KnowsSecurePeer);
    // a secure login adds its Server.
    std::string securePeers;
};

// How starting either role ended.
enum class StartResult {
    Started,
    Retry,           // Client: the user chose YES (try again) after a failed lookup or connect
    StartupFailed,   // WSAStartup
    SocketFailed,
    NoPeerName,      // Client: no PC name resolved and the user chose NO
    ConnectRefused,  // Client: connect failed and the user chose NO
    LoginFailed,     // Client
    BindFailed,      // Server
    ListenFailed,    // Server
    NoThread,        // the receive thread could not be created
};

class Connection {
public:
    explicit Connection(ConnectionListener& listener);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    quorbel::Protocol& protocol();

    // Window thread. Boxes are owned by `owner`.
    StartResult StartClient(HWND owner, ConnectionValues& values);
    StartResult StartServer(HWND owner, const ConnectionValues& values);
    // Ends either role and waits for the receive thread, serving the
    // messages it sends to this thread's windows meanwhile.
    void Close(HWND owner);

    bool IsOpen() const;
    bool SettingUp() const;
    bool PeerPresent() const;            // Server: slot 0 holds a peer
    int32_t ActiveSlotNumber() const;    // Server: the slot that spoke last, 1..10
    long long ClientSocketNumber() const;

private:
    static std::string PeerText(const ConnectionValues& values);
    StartResult PlainLogin(HWND owner, ConnectionValues& values);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// This PC's numeric IPv4 address and host name; kUnknownHost where a lookup
// fails, as before the first lookup.
inline constexpr wchar_t kUnknownHost[] = L"不明";
void ReadHostInfo(std::wstring& address, std::wstring& name);
