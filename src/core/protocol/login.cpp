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

void Login::SetHighestVersion(int version) {
    highest_ = version < 0 ? 0 : version > kFastVersion ? kFastVersion : version;
    offerVersion_ = highest_;
}

void Login::SetPair(u16view id, u16view pw) { text_ = MakeLoginText(id, pw, link_.Codec()); }

void Login::Reset() {
    loggedIn_ = offerPending_ = awaitingConfirmation_ = ended_ = false;
    offerVersion_ = highest_;
    wrongPairs_ = 0;
    exchanging_.reset();
    fastVersion_.store(0);
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
    const bool accepted = SameSecret(text_, std::string_view(text, textLength));
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
    if (wrongPairs_ >= kMaxWrongLogins) link_.EndConnection();
}

void Login::CheckSecure(const Message& m, Origin origin) {
    // Without a session of its own this side answers as a Server that
    // knows none; an empty pair never logs in, as in the plain login; and a
    // connection in a fast mode already keeps its keys.
    const std::size_t markerAt = 3, shareAt = Word(Kind::SecureLogin).size() + 1;
    const int version = OfferedVersion(std::string_view(m.bytes + markerAt, shareAt - markerAt), highest_, true);
    exchanging_.reset();
    if (origin == Origin::Peer && FastVersion() == 0 && !text_.empty() && version > 0 &&
        m.length == shareAt + SecureSession::kShareBytes)
        exchanging_ = crypto_.NewSecureSession(Role::Server, text_, std::string(Marker(version)));
    if (!exchanging_ || !exchanging_->TakePeerShare(m.bytes + shareAt, SecureSession::kShareBytes)) {
        exchanging_.reset();
        return exchange_.RefuseUnknown();
    }
    const std::string answer = FastAnswer(version) + exchanging_->OwnShare() + exchanging_->OwnConfirmation();
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
    if (exchanging_ && exchanging_->PeerConfirms(data, length)) {
        Accepted();
        channel_.Begin(std::move(exchanging_));
        seat_.StateChanged();  // the front end shows the mode
        return exchange_.Report(Operation::Login, false, u"", 0, Outcome::Done);
    }
    // Another pair: as slow as a wrong plain pair, and since the keys of
    // this connection are worth nothing, its end.
    WrongPair();
    exchange_.Report(Operation::Login, false, u"", 0, Outcome::Refused);
    ended_ = true;
    link_.EndConnection();
}

// ---- Client ------------------------------------------------------------------

int Login::SendRequest() {
    exchanging_.reset();
    const int version = offerVersion_;
    const bool secure = CapabilitiesOf(version).secure;
    if (secure) {
        exchanging_ = crypto_.NewSecureSession(Role::Client, text_, std::string(Marker(version)));
        // Nothing goes out: a library that failed never sends the pair in the clear.
        if (!exchanging_) return kNotSecure;
    }
    offerPending_ = version > 0;
    // The secure offer carries no login text: a Server that knows no
    // secure session sees an empty one and answers "NAK". An older offer
    // follows the text with its marker, which a plain Server never sees.
    std::string request = WordText(Kind::Login);
    if (secure) request += '\0' + std::string(Marker(version)) + exchanging_->OwnShare();
    else if (version > 0) request += text_ + '\0' + std::string(Marker(version));
    else request += text_;
    return exchange_.SendFrame(request.data(), request.size());
}

bool Login::SecureOffer() const { return offerPending_ && CapabilitiesOf(offerVersion_).secure; }

LoginAnswer Login::TakeAnswer(const char* data, int32_t received) {
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
        exchanging_.reset();
        // A Server of an older release knows the older offers only, on the
        // same connection; once the oldest is refused, it knows none.
        if (CapabilitiesOf(version - 1).secure) {
            offerVersion_ = version - 1;
            return LoginAnswer::OfferAgain;
        }
        return LoginAnswer::PlainOnly;
    }
    const std::string head = FastAnswer(version);
    const std::size_t shareAt = head.size(), confirmationAt = shareAt + SecureSession::kShareBytes;
    if (!exchanging_ || answer.size() != confirmationAt + SecureSession::kConfirmationBytes ||
        answer.substr(0, shareAt) != head ||
        !exchanging_->TakePeerShare(answer.data() + shareAt, SecureSession::kShareBytes)) {
        exchanging_.reset();
        return LoginAnswer::NotAPeer;
    }
    const bool confirmed = exchanging_->PeerConfirms(answer.data() + confirmationAt, SecureSession::kConfirmationBytes);
    // This side's confirmation goes out either way, as the first frame: a
    // Server told another pair counts it as a wrong login.
    fastVersion_.store(version);
    const std::string confirmation = exchanging_->OwnConfirmation();
    const int error = exchange_.SendMessage(confirmation.data(), confirmation.size(), false);
    if (!confirmed || error != 0) {
        fastVersion_.store(0);
        exchanging_.reset();
        return confirmed ? LoginAnswer::CommunicationError : LoginAnswer::Rejected;
    }
    channel_.Begin(std::move(exchanging_));
    return LoginAnswer::Accepted;
}

}  // namespace quorbel
