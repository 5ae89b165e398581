// The Server's peer in slot 0 and its login: the gate every login exchange
// of it passes (the run's one guard, with the peer's address as its
// source), and what keeps a stranger from holding the slot while a login
// comes before everything else: one that has not logged in goes after a
// while, and one that is silent gives way to a newcomer. All of it runs on
// the Server's receive thread, but the close.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <memory>

#include "core/base/limits.h"
#include "core/protocol/guard.h"

// A connection that has not logged in (it is closed once it had
// quorbel::kLoginTimeMs) gives its slot to a newcomer once it sent nothing
// for this long, unless it began its login. A Client sends its login at
// once, and it is never this slow between its offers.
constexpr ULONGLONG kSilentPeerMs = 2000;

class PeerSlot {
public:
    PeerSlot();
    ~PeerSlot();
    PeerSlot(const PeerSlot&) = delete;
    PeerSlot& operator=(const PeerSlot&) = delete;

    // The Server opens, or closes (from the window thread): a wait of the
    // guard ends at once then, so that it never holds the close.
    void ServerOpens() { ResetEvent(closing_); }
    void ServerCloses() { SetEvent(closing_); }

    // A new connection took slot 0: the gate for its protocol.
    quorbel::LoginGate* Began(const sockaddr_in& address);
    // It sent bytes.
    void Heard() { heardAt_ = GetTickCount64(); }
    bool LoggedIn() const;
    // Not logged in within kLoginTimeMs: it is closed.
    bool TimeIsUp() const;
    // A newcomer may take its place.
    bool GivesWay() const;

private:
    class Gate;
    // The guard's wait: none past the connection's time to log in, where
    // no one would take the answer; cut short when the Server closes.
    bool Wait(int64_t ms);

    quorbel::LoginGuard guard_;  // one for the whole run, whichever peers come and go
    HANDLE closing_;
    std::unique_ptr<Gate> gate_;
    ULONGLONG since_ = 0, heardAt_ = 0;
};
