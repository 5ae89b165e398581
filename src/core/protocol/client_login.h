// The Client's login, one policy for every front end: the offers of the
// fast mode from the newest down, the fall-back to the plain login on a new
// connection, the pauses between them, and the question asked before the
// pair goes in the clear to a Server that had a secure session before, by
// the name the user gave it or by the address it had. The front end only
// follows its steps: it waits for the answer on its socket, asks its user
// in its own words, connects again, and keeps the memory of the Servers.
// The requests themselves go out through the protocol's link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/limits.h"

namespace quorbel {

class Protocol;

// How long a Client waits for the answer to its login request: as long as
// a Server gives it to log in, since a Server that counted wrong pairs from
// its address answers late.
constexpr int kLoginAnswerWaitMs = kLoginTimeMs;
// A Client that falls back to the plain login connects again this much
// later: a Server that answers every connection from its first slot has
// freed it by then, and the new connection does not land beside the old.
constexpr int kPlainLoginPauseMs = 300;

// The Servers a Client had secure sessions with, kept as one text of keys
// each followed by a ';' (the newest first, at most kMaxSecurePeers), so
// that a path that drops the offer cannot have the pair sent in the clear
// unasked.
bool KnowsSecurePeer(std::string_view list, std::string_view key);
std::string WithSecurePeer(std::string_view list, std::string_view key);
// A key of that list: a Server's name or address, case and trailing dots
// folded, and its port.
std::string SecurePeerKey(std::string_view nameOrAddress, uint16_t port);
// The keys of one Server: by the name the user gave, and by the address it
// was reached at ("" when none is known) where that is another key.
std::vector<std::string> SecurePeerKeys(std::string_view given, std::string_view address, uint16_t port);

// Where a Client keeps the Servers it had secure sessions with: the front
// end's store, written at once. The list's text is KnowsSecurePeer's and
// WithSecurePeer's.
class SecurePeerMemory {
public:
    virtual ~SecurePeerMemory() = default;
    virtual std::string Load() = 0;
    virtual void Store(const std::string& list) = 0;
    // The Server at hand: as the user named it (host text or PC name) and
    // as the address it resolved to, each with its port (SecurePeerKey).
    virtual std::vector<std::string> Keys() = 0;
};

enum class LoginStep {
    Receive,    // wait `pauseMs`, then for the answer on the socket, at most `waitMs`, and give it to Answer
    Ask,        // ask the user whether the pair may go in the clear, and give the answer to Reply
    Reconnect,  // close the connection, wait `pauseMs`, connect to the same address again, then Reconnected
    Done,       // `result` says how it ended
};

enum class LoginResult {
    Accepted,
    Skipped,         // command mode: no login exchange
    Rejected,        // the pair is not the Server's
    NotAPeer,        // the answer is no Quorbel Server's
    PeerClosed,      // the Server closed the connection before answering (it may serve another Client)
    NoAnswer,        // no answer in time, or the receive failed
    SendFailed,      // the request could not go: `error` is the socket error, or kNotSecure
    SecureRequired,  // the Server offers no secure session, and one is required
    Declined,        // the user did not let the pair go in the clear
};

struct LoginNext {
    LoginStep step = LoginStep::Done;
    uint32_t pauseMs = 0;
    int waitMs = 0;
    LoginResult result = LoginResult::Accepted;
    int error = 0;
};

class ClientLogin {
public:
    struct Policy {
        bool commandMode = false;     // no login exchange at all
        bool secureRequired = false;  // never the plain login
        bool plainChosen = false;     // the user asked for the plain login: no question before it
    };
    // The protocol is set up for the connection: role, login text, the
    // newest version it may offer.
    ClientLogin(Protocol& protocol, SecurePeerMemory& memory, Policy policy);

    // The connection is there: the first request goes out.
    LoginNext Start();
    // What the receive gave: `received` bytes at `data`, 0 when the Server
    // closed, negative when nothing came in time or the receive failed.
    LoginNext Answer(const char* data, int32_t received);
    // The user's answer to the question.
    LoginNext Reply(bool yes);
    // The new connection is there (the protocol was told that the old one ended).
    LoginNext Reconnected();

private:
    LoginNext Send();
    // The pair would go in the clear, on this connection or (after an
    // offer was sent on it) a new one.
    LoginNext BeforePlain(bool newConnection);
    LoginNext Reconnect(uint32_t pauseMs);
    bool HadSecureSession();
    static LoginNext Done(LoginResult result, int error = 0);

    Protocol& protocol_;
    SecurePeerMemory& memory_;
    Policy policy_;
    int version_;                   // of the next offer
    bool plainNeedsConnection_ = false;
    bool afterRefusal_ = false;     // the last answer refused an offer
    bool reconnectedAfterRefusal_ = false;
};

}  // namespace quorbel
