// The login: the text the Client sends after "PW" and the Server checks, the
// fast mode's offer that two programs of ours add to it (the marker of a
// version after the text and a NUL, or from the secure session on, the
// marker and the Client's share instead of the text), and what a Client
// makes of the answer. A Server takes an older version's offer and then
// keeps to what that version knows, since a program of it waits for
// nothing more; a Client refused its offer offers the older ones in turn.
#pragma once

#include <atomic>
#include <memory>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/base/text.h"
#include "core/protocol/context.h"
#include "core/protocol/cryptography.h"
#include "core/protocol/framing.h"
#include "core/protocol/guard.h"
#include "core/protocol/link.h"
#include "core/protocol/seat.h"
#include "core/protocol/versions.h"

namespace quorbel {

// A wrong login pair is answered this much later, and the connection ends
// after this many of them.
constexpr uint32_t kWrongLoginDelayMs = 1000;
constexpr int kMaxWrongLogins = 3;
// The Server's own salt of the stretch (ownSalt), sent in its first answer.
constexpr std::size_t kServerSaltBytes = 16;

// What the Client makes of the answer to its "PW" message.
enum class LoginAnswer {
    Accepted,
    CommunicationError,  // recv failed, timed out, or the Server closed (0 bytes)
    Rejected,            // the answer starts with "NAK", or the secure exchange showed another pair
    OfferRefused,        // a secure offer answered "NAK": the Server knows no such offer
    NotAPeer,            // anything but "ACK" (with our marker or without) or "NAK"
    ConfirmationSent,    // this side's confirmation went: the Server's comes next (serverConfirmsLast)
};

// The ID's and the PW's ANSI bytes joined without separator; a half whose
// ANSI form with terminator needs 128 bytes or more stays empty.
std::string MakeLoginText(u16view id, u16view pw, const AnsiCodec& codec);

// One side's login and fast mode, for the connection it is on: a Server's
// check of the pair (plain, or proven by the secure session's exchange,
// which also sets the sealing of every later frame going), a Client's
// offers and its reading of the answers, and the version both showed.
class Login {
public:
    Login(Exchange& exchange, PeerLink& link, UserSeat& seat, Cryptography& crypto, SecureChannel& channel);

    // ---- Set-up ----
    void SetHighestVersion(int version);
    int HighestVersion() const { return highest_; }
    void SetRequired(bool required) { required_ = required; }
    void SetSecureRequired(bool required) { secureRequired_ = required; }
    // Server: the stored pair; Client: the typed one. A Server with either
    // half empty takes no login at all.
    void SetPair(u16view id, u16view pw);
    // Server: its own salt of the stretch (ownSalt), and the gate every
    // exchange of this connection passes before it is answered.
    void SetSalt(std::string salt) { salt_ = std::move(salt); }
    void SetGate(LoginGate* gate) { gate_ = gate; }
    // A new connection starts plain and not logged in; an exchange the last
    // one left unconfirmed counts as a wrong pair.
    void Reset();

    // The fast mode's version both sides showed (0 in the plain mode).
    int FastVersion() const { return fastVersion_.load(); }
    // Whether a request of the peer may be served on this connection.
    bool Serving() const { return !(required_ || secureRequired_) || loggedIn_; }
    // The connection ends after a wrong pair: nothing more is dispatched.
    bool Ended() const { return ended_; }
    // Server: the next frame is the Client's confirmation.
    bool AwaitsConfirmation() const { return awaitingConfirmation_; }

    // ---- Server ----
    // A "PW" message: a plain login text (with an older version's marker),
    // or the secure offer.
    void Check(const Message& m, Origin origin);
    void CheckSecure(const Message& m, Origin origin);
    void TakeConfirmation(const char* data, std::size_t length);

    // ---- Client ----
    // The offer of `version` (0: the plain login text alone).
    int SendRequest(int version);
    bool SecureOffer() const;
    LoginAnswer TakeAnswer(const char* data, int32_t received);

private:
    LoginAnswer TakeSecureAnswer(std::string_view answer, bool nak);
    LoginAnswer TakeServerConfirmation(const char* data, int32_t received);
    // The gate lets the exchange through (false: the connection ends).
    bool Admitted();
    // The exchange the gate let through ended.
    void Settled(bool loggedIn);
    // A login's answer: exactly its bytes, not recorded, no note.
    void SendReply(std::string_view answer);
    // A wrong pair costs its guesser time, and a few end the connection.
    void WrongPair();
    void Accepted();

    Exchange& exchange_;
    PeerLink& link_;
    UserSeat& seat_;
    Cryptography& crypto_;
    SecureChannel& channel_;
    std::string text_;            // Server: the stored pair; Client: the typed one
    bool pairSet_ = false;        // Server: neither half is empty
    std::string salt_;            // Server: its own salt (ownSalt)
    LoginGate* gate_ = nullptr;   // Server
    bool gateOpen_ = false;       // an exchange the gate let through is not settled yet
    int highest_ = kFastVersion;  // offered (Client) and accepted (Server) at most; 0: the plain login only
    bool required_ = false;       // serve nothing else until a login was accepted
    bool secureRequired_ = false; // Server: only secure logins
    bool loggedIn_ = false;
    int offerVersion_ = 0;             // Client: the version of the offer on its way
    bool offerPending_ = false;        // Client: an offer with a marker awaits its answer
    int wrongPairs_ = 0;
    std::atomic<int> fastVersion_{0};  // both sides showed it; 0 in the plain mode
    // The secure session's exchange, until it is confirmed and seals the channel.
    std::unique_ptr<SecureSession> exchanging_;
    bool awaitingConfirmation_ = false;  // Server: the next frame is the Client's confirmation
    bool awaitingServer_ = false;        // Client: the Server's confirmation is the next answer
    bool ended_ = false;
};

}  // namespace quorbel
