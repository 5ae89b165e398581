// The login: the text the Client sends after "PW" and the Server checks, the
// fast mode's offer that two programs of ours add to it (the marker of a
// version after the text and a NUL, or from the secure session on, the
// marker and the Client's share instead of the text), and what a Client
// makes of the answer. A Server takes an older version's offer and then
// keeps to what that version knows, since a program of it waits for
// nothing more; a Client refused its offer offers the older ones in turn.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/base/text.h"
#include "core/protocol/versions.h"

namespace quorbel {

// A wrong login pair is answered this much later, and the connection ends
// after this many of them.
constexpr uint32_t kWrongLoginDelayMs = 1000;
constexpr int kMaxWrongLogins = 3;

// What the Client makes of the answer to its "PW" message.
enum class LoginAnswer {
    Accepted,
    CommunicationError,  // recv failed, timed out, or the Server closed (0 bytes)
    Rejected,            // the answer starts with "NAK", or the secure exchange showed another pair
    PlainOnly,           // a secure offer answered "NAK": the peer knows only the plain login
    OfferAgain,          // a secure offer answered "NAK": the next older one goes on the same connection
    NotAPeer,            // anything but "ACK" (with our marker or without) or "NAK"
};

// The ID's and the PW's ANSI bytes joined without separator; a half whose
// ANSI form with terminator needs 128 bytes or more stays empty.
std::string MakeLoginText(u16view id, u16view pw, const AnsiCodec& codec);

// The addresses ("host:port") a Client had secure sessions with, kept as
// one text of addresses each followed by a ';' (the newest first, at most
// kMaxSecurePeers), so that a path that drops the marker cannot have the
// pair sent in the clear unasked.
bool KnowsSecurePeer(std::string_view list, std::string_view address);
std::string WithSecurePeer(std::string_view list, std::string_view address);

// One side's login and fast mode, for the connection it is on.
struct LoginState {
    std::string text;           // Server: the stored pair; Client: the typed one
    int highest = kFastVersion; // offered (Client) and accepted (Server) at most; 0: the plain login only
    bool required = false;      // serve nothing else until a login was accepted
    bool loggedIn = false;
    int offerVersion = kFastVersion;  // Client: the version its next offer carries
    bool offerPending = false;        // Client: an offer with a marker awaits its answer
    int wrongPairs = 0;
    std::atomic<int> fastVersion{0};  // both sides showed it; 0 in the plain mode

    // A new connection starts plain and not logged in.
    void Reset() {
        loggedIn = offerPending = false;
        offerVersion = highest;
        wrongPairs = 0;
    }
};

}  // namespace quorbel
