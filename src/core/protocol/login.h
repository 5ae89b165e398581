// The login: the text the Client sends after "PW" and the Server checks, the
// fast mode's marker that two programs of ours add to it, and what a
// Client makes of the answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/base/text.h"

namespace quorbel {

// The fast mode's marker, after the login text and a NUL. Its version says
// what the two sides add to the plain protocol: from 2 on, the receiver
// answers a file's end record with "ACK" once the file has its final name
// and times, or "NAK"; from 3 on, listings are exact and paged and a cut
// copy resumes; from 4 on, the pair is proven by a key exchange instead
// of sent, every frame is sealed (the secure session), and a sender keeps
// several blocks in flight; from 5 on, a side serving a request holds the
// peer's next one until it is done, a small file goes whole without
// waiting for the answers before it, and a sender that took a refusal of
// a block ends what it had sent with a stop record, so that requests need
// not wait for the last one's end. A Server still takes an older
// marker and then keeps to what that release knows, since a program of it
// waits for nothing more.
constexpr int kFastVersion = 5;
// The oldest version of the secure session: a Client whose offer of a
// newer one was answered "NAK" offers the older ones in turn.
constexpr int kFirstSecureVersion = 4;
// The last version offered after a plain login text; the secure session
// has its own first message: "PW", NUL, the marker and the Client's share.
constexpr int kLastPlainFastVersion = 3;
// The marker of each version, the index being the version.
inline constexpr const char* kFastMarkers[kFastVersion + 1] = {"", "QBX1", "QBX2", "QBX3", "QBX4", "QBX5"};
inline constexpr const char* kFastMarker = kFastMarkers[kFastVersion];
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
    bool fastAllowed = true;    // offered (Client) and accepted (Server)
    bool required = false;      // serve nothing else until a login was accepted
    bool loggedIn = false;
    bool markerSent = false;
    int offeredVersion = kFastVersion;  // Client: the secure offer's version
    int wrongPairs = 0;
    std::atomic<int> fastVersion{0};  // both sides showed it; 0 in the plain mode

    // A new connection starts plain and not logged in.
    void Reset() {
        loggedIn = markerSent = false;
        offeredVersion = kFastVersion;
        wrongPairs = 0;
    }
};

}  // namespace quorbel
