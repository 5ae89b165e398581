// The login text (ID bytes followed by PW bytes), the Server's check of a
// "PW" message with the fast mode's offer, and the Client's reading of the
// answer.
#include "core/protocol/login.h"

#include <cstring>
#include <utility>

#include "core/protocol/wire.h"

namespace quorbel {

namespace {

constexpr std::size_t kLoginHalfBytes = 128;  // one half with its terminator
// "ACK", NUL and the marker: our Server's answer to a Client that offered it.
std::string FastAnswer(int version) { return WordText(Kind::Ack) + '\0' + std::string(Marker(version)); }

// The version of `marker` that a side of at most `highest` takes in an
// offer of that kind (after a plain login text, or a secure offer); 0 for
// one it does not know.
int OfferedVersion(std::string_view marker, int highest, bool secure) {
    for (int version = highest; version >= 1; --version)
        if (CapabilitiesOf(version).secure == secure && marker == Marker(version)) return version;
    return 0;
}

// Equal texts, in a time that does not tell how much of a guess was right.
bool SameSecret(std::string_view expected, std::string_view given) {
    unsigned difference = expected.size() != given.size() ? 1u : 0u;
    for (std::size_t i = 0; i < given.size(); ++i) {
        const char e = i < expected.size() ? expected[i] : '\0';
        difference |= static_cast<unsigned char>(e ^ given[i]);
    }
    return difference == 0;
}

// A half whose ANSI form with its terminator needs 128 bytes or more is
// left empty rather than cut.
std::string LoginHalf(u16view text, const AnsiCodec& codec) {
    text = text.substr(0, BoundedLength(text.data(), text.size()));
    std::string ansi = codec.ToAnsi(text);
    if (ansi.size() + 1 >= kLoginHalfBytes) return std::string();
    return ansi;
}

}  // namespace

std::string MakeLoginText(u16view id, u16view pw, const AnsiCodec& codec) {
    return LoginHalf(id, codec) + LoginHalf(pw, codec);
}

Login::Login(Exchange& exchange, PeerLink& link, UserSeat& seat, Cryptography& crypto, SecureChannel& channel)
    : exchange_(exchange), link_(link), seat_(seat), crypto_(crypto), channel_(channel) {}

void Login::SetHighestVersion(int version) { highest_ = version < 0 ? 0 : version > kFastVersion ? kFastVersion : version; }

void Login::SetPair(u16view id, u16view pw) {
    text_ = MakeLoginText(id, pw, link_.Codec());
    pairSet_ = !id.empty() && !pw.empty();
}

void Login::Reset() {
    // An exchange answered and never confirmed: as a wrong pair to its source.
    if (gateOpen_) {
        exchange_.Report(Operation::Login, false, u"", 0, Outcome::Lost);
        Settled(false);
    }
    loggedIn_ = offerPending_ = awaitingConfirmation_ = awaitingServer_ = ended_ = false;
    wrongPairs_ = 0;
    exchanging_.reset();
    fastVersion_.store(0);
}

bool Login::Admitted() {
    if (!gate_) return true;
    if (!gate_->AwaitTurn()) {
        ended_ = true;
        link_.EndConnection();
        return false;
    }
    gateOpen_ = true;
    return true;
}

void Login::Settled(bool loggedIn) {
    if (!std::exchange(gateOpen_, false)) return;
    gate_->Ended(loggedIn);
}

void Login::Accepted() {
    loggedIn_ = true;
    wrongPairs_ = 0;
}

void Login::WrongPair() {
    // Guessing costs a second a pair, and a connection a few pairs.
    ++wrongPairs_;
    link_.SleepMs(kWrongLoginDelayMs);
}

void Login::SendReply(std::string_view answer) {
    const int error = link_.SendBytes(answer.data(), answer.size());
    if (error != 0) exchange_.ReportSendFailure(error, answer.data(), answer.size());
}

// ---- Server ------------------------------------------------------------------

void Login::Check(const Message& m, Origin origin) {
    // The text is compared up to its first NUL; what follows the NUL is the
    // fast mode's marker, which a Server that does not know it never sees.
    const char* text = m.bytes + 2;
    const std::size_t textLength = m.textLength - 2;
    if (secureRequired_) {
        // The pair came in the clear: it is not even compared.
        SendReply(Word(Kind::Nak));
        exchange_.SetState(Waiting, false);
        return exchange_.Report(Operation::Login, false, u"", 0, Outcome::Refused);
    }
    // Every guess waits its turn; a connection beside the peer serves no login.
    if (origin == Origin::Peer && !Admitted()) return;
    const bool accepted = pairSet_ && SameSecret(text_, std::string_view(text, textLength));
    const std::size_t markerAt = 2 + textLength + 1;
    const int version =
        markerAt <= m.length ? OfferedVersion(std::string_view(m.bytes + markerAt, m.length - markerAt), highest_, false)
                             : 0;
    if (accepted) Accepted();
    else WrongPair();
    if (accepted && version > 0 && origin == Origin::Peer) {
        const std::string answer = FastAnswer(version);
        const int error = link_.SendBytes(answer.data(), answer.size());
        if (error != 0) {
            exchange_.ReportSendFailure(error, answer.data(), answer.size());
        } else {
            fastVersion_.store(version);
            seat_.StateChanged();  // the front end shows the mode
        }
    } else {
        SendReply(Word(accepted ? Kind::Ack : Kind::Nak));
    }
    exchange_.SetState(Waiting, false);
    exchange_.Report(Operation::Login, false, u"", 0, accepted ? Outcome::Done : Outcome::Refused);
    Settled(accepted);
    if (wrongPairs_ >= kMaxWrongLogins) link_.EndConnection();
}

void Login::CheckSecure(const Message& m, Origin origin) {
    // Without a session of its own this side answers as a Server that
    // knows none; an empty pair never logs in, as in the plain login; and a
    // connection in a fast mode keeps the keys it has.
    const std::size_t markerAt = 3, restAt = Word(Kind::SecureLogin).size() + 1;
    const int version = OfferedVersion(std::string_view(m.bytes + markerAt, restAt - markerAt), highest_, true);
    const bool ownSalt = CapabilitiesOf(version).ownSalt;
    // The secure offer of the Server's own salt is the marker alone; an
    // older one carries the Client's share, checked before anything else.
    const bool wellFormed = ownSalt ? m.length == restAt && salt_.size() == kServerSaltBytes
                                    : m.length == restAt + SecureSession::kShareBytes &&
                                          crypto_.IsShare(m.bytes + restAt, SecureSession::kShareBytes);
    exchanging_.reset();
    if (origin != Origin::Peer || CapabilitiesOf(FastVersion()).framed || !pairSet_ || !CapabilitiesOf(version).secure ||
        !wellFormed)
        return exchange_.RefuseUnknown();
    if (!Admitted()) return;
    const std::string salt = ownSalt ? std::string(Marker(version)) + salt_ : std::string(Marker(version));
    exchanging_ = crypto_.NewSecureSession(Role::Server, text_, salt);
    if (!exchanging_ || (!ownSalt && !exchanging_->TakePeerShare(m.bytes + restAt, SecureSession::kShareBytes))) {
        exchanging_.reset();
        Settled(false);
        return exchange_.RefuseUnknown();
    }
    // From the Server's own salt on, the Client's confirmation comes before
    // this side's: only here can a guess be tested, and it is counted.
    const std::string answer = ownSalt ? FastAnswer(version) + salt_ + exchanging_->OwnShare()
                                       : FastAnswer(version) + exchanging_->OwnShare() + exchanging_->OwnConfirmation();
    const int error = link_.SendBytes(answer.data(), answer.size());
    exchange_.SetState(Waiting, false);
    if (error != 0) {
        exchanging_.reset();
        return exchange_.ReportSendFailure(error, answer.data(), answer.size());
    }
    // The Client's confirmation comes as the first frame.
    fastVersion_.store(version);
    awaitingConfirmation_ = true;
}

void Login::TakeConfirmation(const char* data, std::size_t length) {
    awaitingConfirmation_ = false;
    const bool last = CapabilitiesOf(FastVersion()).serverConfirmsLast;
    // With the Server confirming last, the Client's share comes with its confirmation.
    const std::size_t shareBytes = last ? SecureSession::kShareBytes : 0;
    const bool confirmed = exchanging_ && length == shareBytes + SecureSession::kConfirmationBytes &&
                           (!last || exchanging_->TakePeerShare(data, shareBytes)) &&
                           exchanging_->PeerConfirms(data + shareBytes, SecureSession::kConfirmationBytes);
    if (confirmed && last) {
        const std::string confirmation = exchanging_->OwnConfirmation();
        exchange_.SendMessage(confirmation.data(), confirmation.size(), false);
    }
    if (confirmed) {
        Accepted();
        channel_.Begin(std::move(exchanging_));
        seat_.StateChanged();  // the front end shows the mode
        exchange_.Report(Operation::Login, false, u"", 0, Outcome::Done);
        return Settled(true);
    }
    // Another pair: as slow as a wrong plain pair, and since the keys of
    // this connection are worth nothing, its end.
    exchanging_.reset();
    WrongPair();
    exchange_.Report(Operation::Login, false, u"", 0, Outcome::Refused);
    Settled(false);
    ended_ = true;
    link_.EndConnection();
}

// ---- Client ------------------------------------------------------------------

int Login::SendRequest(int version) {
    exchanging_.reset();
    offerVersion_ = version = std::min(version, highest_);
    const bool secure = CapabilitiesOf(version).secure;
    // Salted by the Server's own salt, the pair is stretched once that salt came.
    if (secure && !CapabilitiesOf(version).ownSalt) {
        exchanging_ = crypto_.NewSecureSession(Role::Client, text_, std::string(Marker(version)));
        // Nothing goes out: a library that failed never sends the pair in the clear.
        if (!exchanging_) return kNotSecure;
    }
    offerPending_ = version > 0;
    // The secure offer carries no login text: a Server that knows no
    // secure session sees an empty one and answers "NAK". An older offer
    // follows the text with its marker, which a plain Server never sees.
    std::string request = WordText(Kind::Login);
    if (secure) request += '\0' + std::string(Marker(version)) + (exchanging_ ? exchanging_->OwnShare() : "");
    else if (version > 0) request += text_ + '\0' + std::string(Marker(version));
    else request += text_;
    return exchange_.SendFrame(request.data(), request.size());
}

bool Login::SecureOffer() const { return offerPending_ && CapabilitiesOf(offerVersion_).secure; }

LoginAnswer Login::TakeAnswer(const char* data, int32_t received) {
    if (std::exchange(awaitingServer_, false)) return TakeServerConfirmation(data, received);
    // 0 bytes means the Server closed before answering: not a login.
    if (received <= 0) return LoginAnswer::CommunicationError;
    const std::string_view answer(data, std::size_t(received));
    const bool nak = Classify(data, std::size_t(received)) == Kind::Nak;
    // One answer per offer.
    if (std::exchange(offerPending_, false)) {
        if (CapabilitiesOf(offerVersion_).secure) return TakeSecureAnswer(answer, nak);
        // A Server that takes the offer says so with its marker; one that
        // does not know it answers as to the plain login.
        if (!nak && answer == FastAnswer(offerVersion_)) {
            fastVersion_.store(offerVersion_);
            return LoginAnswer::Accepted;
        }
    }
    if (nak) return LoginAnswer::Rejected;
    // A peer built to the plain protocol answers exactly "ACK"; anything
    // else (a web server's error page, say) is no login.
    return answer == Word(Kind::Ack) ? LoginAnswer::Accepted : LoginAnswer::NotAPeer;
}

LoginAnswer Login::TakeSecureAnswer(std::string_view answer, bool nak) {
    const int version = offerVersion_;
    if (nak) {
        // A Server of an older release, or one that knows no secure session.
        exchanging_.reset();
        return LoginAnswer::OfferRefused;
    }
    const std::string head = FastAnswer(version);
    const bool ownSalt = CapabilitiesOf(version).ownSalt;
    const std::size_t saltAt = head.size(), shareAt = saltAt + (ownSalt ? kServerSaltBytes : 0),
                      confirmationAt = shareAt + SecureSession::kShareBytes;
    if (answer.size() != confirmationAt + (ownSalt ? 0 : SecureSession::kConfirmationBytes) ||
        answer.substr(0, saltAt) != head)
        return exchanging_.reset(), LoginAnswer::NotAPeer;
    if (ownSalt) {
        // The stretch runs now, salted by what this Server sent.
        exchanging_ = crypto_.NewSecureSession(Role::Client, text_, std::string(Marker(version)) +
                                                                        std::string(answer.substr(saltAt, kServerSaltBytes)));
        if (!exchanging_) return LoginAnswer::CommunicationError;
    }
    if (!exchanging_ || !exchanging_->TakePeerShare(answer.data() + shareAt, SecureSession::kShareBytes))
        return exchanging_.reset(), LoginAnswer::NotAPeer;
    fastVersion_.store(version);
    if (ownSalt) {
        // This side's share and confirmation as the first frame: the Server
        // checks them before it confirms anything.
        const std::string first = exchanging_->OwnShare() + exchanging_->OwnConfirmation();
        if (exchange_.SendMessage(first.data(), first.size(), false) != 0) {
            fastVersion_.store(0);
            exchanging_.reset();
            return LoginAnswer::CommunicationError;
        }
        awaitingServer_ = true;
        return LoginAnswer::ConfirmationSent;
    }
    // A Server that does not know the pair learns nothing more from this
    // side: its confirmation goes only after the Server's checked out.
    if (!exchanging_->PeerConfirms(answer.data() + confirmationAt, SecureSession::kConfirmationBytes)) {
        fastVersion_.store(0);
        exchanging_.reset();
        return LoginAnswer::Rejected;
    }
    const std::string confirmation = exchanging_->OwnConfirmation();
    if (exchange_.SendMessage(confirmation.data(), confirmation.size(), false) != 0) {
        fastVersion_.store(0);
        exchanging_.reset();
        return LoginAnswer::CommunicationError;
    }
    channel_.Begin(std::move(exchanging_));
    return LoginAnswer::Accepted;
}

LoginAnswer Login::TakeServerConfirmation(const char* data, int32_t received) {
    // The Server that refused this side's confirmation closes: another pair.
    if (received <= 0) {
        fastVersion_.store(0);
        exchanging_.reset();
        return received == 0 ? LoginAnswer::Rejected : LoginAnswer::CommunicationError;
    }
    const std::size_t length = std::size_t(received);
    const bool confirmed = exchanging_ && length == kFrameHeaderBytes + SecureSession::kConfirmationBytes &&
                           GetLittleEndian32(data) == SecureSession::kConfirmationBytes &&
                           exchanging_->PeerConfirms(data + kFrameHeaderBytes, SecureSession::kConfirmationBytes);
    if (!confirmed) {
        fastVersion_.store(0);
        exchanging_.reset();
        return LoginAnswer::NotAPeer;
    }
    channel_.Begin(std::move(exchanging_));
    return LoginAnswer::Accepted;
}

}  // namespace quorbel
