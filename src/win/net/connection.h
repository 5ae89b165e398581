// The TCP connection in the Client and Server roles, its receive thread and
// the protocol it carries. It knows nothing of the windows above it: it
// takes the values a connection needs when it starts, reports through a
// listener what the connection itself meets and asks, and hands the
// protocol the seat of the user it was given.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "core/base/limits.h"
#include "core/protocol/client_login.h"
#include "core/protocol/protocol.h"
#include "win/base/client_setup.h"

// A Winsock step that failed.
enum class NetFailure {
    Startup,      // WSAStartup
    Socket,
    Bind,         // Server
    Listen,       // Server
    Thread,       // the receive thread could not be created
    Select,       // Server, on its receive thread
    CloseSocket,  // at the close
    Cleanup,      // WSACleanup at the close
};

// What the connection tells the window above it and asks its user. Called
// on the window thread unless marked otherwise.
class ConnectionListener {
public:
    virtual ~ConnectionListener() = default;
    // Server, receive thread: a peer came or went ("Server:Conection:[..]", "Server:CutOFF:[..]").
    virtual void PeerHeader(const std::wstring& text) = 0;
    // Close the connection after this many milliseconds (from any thread).
    virtual void CloseAfter(UINT milliseconds) = 0;
    // While the Client sets up.
    virtual void ShowProgress(ClientSetup step) = 0;
    // `error` is the step's error code (WSAStartup's result, WSAGetLastError,
    // GetLastError, closesocket's or WSACleanup's result).
    virtual void NetworkFailed(NetFailure failure, int error) = 0;
    // Receive thread: the stream held a frame that cannot be; the connection
    // ends. It must not hold the thread.
    virtual void BadFrame() = 0;
    // Client: the login did not succeed (not Accepted or Skipped); the
    // connection is closed already.
    virtual void LoginFailed(quorbel::LoginResult result) = 0;
    // Client, the user's answers: whether to try again after no PC name
    // resolved (the last lookup's error) or the connect failed (its error),
    // and whether the pair may go in the clear to a Server that had a secure
    // session before and now offers none (`peer`: the PC name or address as
    // the user gave it, ":" and the port).
    virtual bool RetryLookup(int error) = 0;
    virtual bool RetryConnect(int error) = 0;
    virtual bool LoginInTheClear(const std::wstring& peer) = 0;
    // Client: a secure login added its Server to the list of those it had
    // secure sessions with (ConnectionValues::securePeers, as it is now),
    // to be kept at once.
    virtual void SecurePeersChanged(const std::string& list) = 0;
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
    // Secure sessions only: a Client never lets the pair go in the clear,
    // a Server refuses every plain login (and so serves only those).
    bool requireSecure = false;
    std::string serverSalt;  // Server: its own salt (kServerSaltBytes); empty: none
    int32_t monitorRecording = 0;  // as read: the monitor rings record while it is 1
    std::wstring peerHostName;  // Client: set from the connected Server when it can be looked up
    // Client: the Servers it had secure sessions with (see KnowsSecurePeer),
    // in UTF-8; a secure login adds its Server.
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
    // `seat` is what the protocol reports to; the connection tells it too
    // when a peer comes or goes.
    Connection(ConnectionListener& listener, quorbel::UserSeat& seat);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    quorbel::Protocol& protocol();

    // Window thread.
    StartResult StartClient(ConnectionValues& values);
    StartResult StartServer(const ConnectionValues& values);
    // Ends either role and waits for the receive thread, serving the
    // messages it sends to this thread's windows meanwhile.
    void Close();

    bool IsOpen() const;
    bool SettingUp() const;
    bool PeerPresent() const;            // Server: slot 0 holds a peer
    int32_t ActiveSlotNumber() const;    // Server: the slot that spoke last, 1..10
    long long ClientSocketNumber() const;
    // The calling thread is the receive thread and the connection closes:
    // what it still sends is dropped, and nothing of it is for the user.
    bool ReceiveThreadIsClosing() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// This PC's host address and name as the header shows them (64 units).
constexpr std::size_t kMaxHostText = 63;
// The Server's host name as the Client looks it up (32 bytes, 32 units).
constexpr std::size_t kMaxPeerHostName = 31;

// This PC's numeric IPv4 address and host name; kUnknownHost where a lookup
// fails, as before the first lookup.
inline constexpr wchar_t kUnknownHost[] = L"不明";
void ReadHostInfo(std::wstring& address, std::wstring& name);
