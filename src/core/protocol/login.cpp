// The login text (ID bytes followed by PW bytes), the Server's check of a
// "PW" message with the fast mode's marker, and the Client's reading of the
// answer.
#include <cstring>
#include <utility>

#include "core/protocol/protocol.h"
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

void Protocol::BuildLoginText(u16view id, u16view pw) { login_.text = MakeLoginText(id, pw, link_.Codec()); }

void Protocol::CheckLogin(const Message& m, bool fromPeer) {
    // The text is compared up to its first NUL; what follows the NUL is the
    // fast mode's marker, which a Server that does not know it never sees.
    const char* text = m.bytes + 2;
    const std::size_t textLength = m.textLength - 2;
    if (secureRequired_) {
        // The pair came in the clear: it is not even compared.
        SendReply(Word(Kind::Nak));
        SetState(Waiting, false);
        return Report(Operation::Login, false, u"", 0, Outcome::Refused);
    }
    const bool accepted = SameSecret(login_.text, std::string_view(text, textLength));
    const std::size_t markerAt = 2 + textLength + 1;
    const int version = markerAt <= m.length ? OfferedVersion(std::string_view(m.bytes + markerAt, m.length - markerAt),
                                                              login_.highest, false)
                                             : 0;
    if (accepted) {
        login_.loggedIn = true;
        login_.wrongPairs = 0;
    } else {
        // Guessing costs a second a pair, and a connection a few pairs.
        ++login_.wrongPairs;
        link_.SleepMs(kWrongLoginDelayMs);
    }
    if (accepted && version > 0 && fromPeer) {
        const std::string answer = FastAnswer(version);
        const int error = link_.SendBytes(answer.data(), answer.size());
        if (error != 0) {
            ShowSendError(error, answer.data(), answer.size());
        } else {
            login_.fastVersion.store(version);
            seat_.RefreshStatusBar();  // the front end shows the mode
        }
    } else {
        SendReply(Word(accepted ? Kind::Ack : Kind::Nak));
    }
    SetState(Waiting, false);
    Report(Operation::Login, false, u"", 0, accepted ? Outcome::Done : Outcome::Refused);
    if (login_.wrongPairs >= kMaxWrongLogins) link_.EndConnection();
}

void Protocol::SendReply(std::string_view answer) {
    const int error = link_.SendBytes(answer.data(), answer.size());
    if (error != 0) ShowSendError(error, answer.data(), answer.size());
}

void Protocol::CheckSecureLogin(const Message& m, bool fromPeer) {
    // Without a session of its own this side answers as a Server that
    // knows none; an empty pair never logs in, as in the plain login; and a
    // connection in a fast mode already keeps its keys.
    const std::size_t markerAt = 3, shareAt = Word(Kind::SecureLogin).size() + 1;
    const int version = OfferedVersion(std::string_view(m.bytes + markerAt, shareAt - markerAt), login_.highest, true);
    if (fromPeer && !FastMode() && !login_.text.empty() && version > 0 &&
        m.length == shareAt + SecureSession::kShareBytes)
        secure_ = link_.NewSecureSession(Role::Server, login_.text, std::string(Marker(version)));
    if (!secure_ || !secure_->TakePeerShare(m.bytes + shareAt, SecureSession::kShareBytes)) {
        secure_.reset();
        return RefuseUnknown();
    }
    const std::string answer = FastAnswer(version) + secure_->OwnShare() + secure_->OwnConfirmation();
    const int error = link_.SendBytes(answer.data(), answer.size());
    SetState(Waiting, false);
    if (error != 0) {
        secure_.reset();
        return ShowSendError(error, answer.data(), answer.size());
    }
    // The Client's confirmation comes as the first frame.
    login_.fastVersion.store(version);
    awaitingConfirmation_ = true;
}

void Protocol::TakeConfirmation(const char* data, std::size_t length) {
    if (secure_ && secure_->PeerConfirms(data, length)) {
        login_.loggedIn = true;
        login_.wrongPairs = 0;
        sealed_.store(true);
        seat_.RefreshStatusBar();  // the front end shows the mode
        return Report(Operation::Login, false, u"", 0, Outcome::Done);
    }
    // Another pair: as slow as a wrong plain pair, and since the keys of
    // this connection are worth nothing, its end.
    ++login_.wrongPairs;
    link_.SleepMs(kWrongLoginDelayMs);
    Report(Operation::Login, false, u"", 0, Outcome::Refused);
    loginEnded_ = true;
    link_.EndConnection();
}

int Protocol::SendLoginRequest() {
    secure_.reset();
    const int version = login_.offerVersion;
    const bool secure = CapabilitiesOf(version).secure;
    if (secure) {
        secure_ = link_.NewSecureSession(Role::Client, login_.text, std::string(Marker(version)));
        // Nothing goes out: a library that failed never sends the pair in the clear.
        if (!secure_) return kNotSecure;
    }
    login_.offerPending = version > 0;
    // The secure offer carries no login text: a Server that knows no
    // secure session sees an empty one and answers "NAK". An older offer
    // follows the text with its marker, which a plain Server never sees.
    std::string request = WordText(Kind::Login);
    if (secure) request += '\0' + std::string(Marker(version)) + secure_->OwnShare();
    else if (version > 0) request += login_.text + '\0' + std::string(Marker(version));
    else request += login_.text;
    return SendFrame(request.data(), request.size());
}

LoginAnswer Protocol::TakeLoginAnswer(const char* data, int32_t received) {
    // 0 bytes means the Server closed before answering: not a login.
    if (received <= 0) return LoginAnswer::CommunicationError;
    const std::string_view answer(data, std::size_t(received));
    const bool nak = Classify(data, std::size_t(received)) == Kind::Nak;
    // One answer per offer.
    if (std::exchange(login_.offerPending, false)) {
        if (CapabilitiesOf(login_.offerVersion).secure) return TakeSecureAnswer(answer, nak);
        // A Server that takes the offer says so with its marker; one that
        // does not know it answers as to the plain login.
        if (!nak && answer == FastAnswer(login_.offerVersion)) {
            login_.fastVersion.store(login_.offerVersion);
            return LoginAnswer::Accepted;
        }
    }
    if (nak) return LoginAnswer::Rejected;
    // A peer built to the plain protocol answers exactly "ACK"; anything
    // else (a web server's error page, say) is no login.
    return answer == Word(Kind::Ack) ? LoginAnswer::Accepted : LoginAnswer::NotAPeer;
}

LoginAnswer Protocol::TakeSecureAnswer(std::string_view answer, bool nak) {
    const int version = login_.offerVersion;
    if (nak) {
        secure_.reset();
        // A Server of an older release knows the older offers only, on the
        // same connection; once the oldest is refused, it knows none.
        if (CapabilitiesOf(version - 1).secure) {
            login_.offerVersion = version - 1;
            return LoginAnswer::OfferAgain;
        }
        return LoginAnswer::PlainOnly;
    }
    const std::string head = FastAnswer(version);
    const std::size_t shareAt = head.size(), confirmationAt = shareAt + SecureSession::kShareBytes;
    if (!secure_ || answer.size() != confirmationAt + SecureSession::kConfirmationBytes ||
        answer.substr(0, shareAt) != head || !secure_->TakePeerShare(answer.data() + shareAt, SecureSession::kShareBytes)) {
        secure_.reset();
        return LoginAnswer::NotAPeer;
    }
    const bool confirmed = secure_->PeerConfirms(answer.data() + confirmationAt, SecureSession::kConfirmationBytes);
    // This side's confirmation goes out either way, as the first frame: a
    // Server told another pair counts it as a wrong login.
    login_.fastVersion.store(version);
    const std::string confirmation = secure_->OwnConfirmation();
    const int error = SendMessage(confirmation.data(), confirmation.size(), false);
    if (!confirmed || error != 0) {
        login_.fastVersion.store(0);
        secure_.reset();
        return confirmed ? LoginAnswer::CommunicationError : LoginAnswer::Rejected;
    }
    sealed_.store(true);
    return LoginAnswer::Accepted;
}

bool KnowsSecurePeer(std::string_view list, std::string_view address) {
    while (!list.empty()) {
        const std::size_t end = list.find(';');
        if (list.substr(0, end) == address) return true;
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return false;
}

std::string WithSecurePeer(std::string_view list, std::string_view address) {
    std::string out = std::string(address) + ';';
    std::size_t kept = 1;
    while (!list.empty() && kept < kMaxSecurePeers) {
        const std::size_t end = list.find(';');
        const std::string_view entry = list.substr(0, end);
        if (!entry.empty() && entry != address) {
            out.append(entry).push_back(';');
            ++kept;
        }
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return out;
}

}  // namespace quorbel
