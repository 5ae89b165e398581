// The login text (ID bytes followed by PW bytes), the Server's check of a
// "PW" message with the fast mode's marker, and the Client's reading of the
// answer.
#include <cstring>

#include "core/protocol/protocol.h"
#include "core/protocol/wire.h"

namespace quorbel {

namespace {

constexpr std::size_t kLoginHalfBytes = 128;  // one half with its terminator
// "ACK", NUL and the marker: our Server's answer to a Client that offered it.
std::string FastAnswer(const char* marker) { return WordText(Kind::Ack) + '\0' + marker; }

// The version of the marker that follows the login text's NUL, or 0.
int OfferedVersion(const char* bytes, std::size_t length, std::size_t markerAt) {
    const std::string_view offered =
        markerAt <= length ? std::string_view(bytes + markerAt, length - markerAt) : std::string_view();
    for (int version = kFastVersion; version >= 1; --version)
        if (offered == kFastMarkers[version]) return version;
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
    const bool accepted = SameSecret(login_.text, std::string_view(text, textLength));
    const int version = OfferedVersion(m.bytes, m.length, 2 + textLength + 1);
    if (accepted) {
        login_.loggedIn = true;
        login_.wrongPairs = 0;
    } else {
        // Guessing costs a second a pair, and a connection a few pairs.
        ++login_.wrongPairs;
        link_.SleepMs(kWrongLoginDelayMs);
    }
    if (accepted && version > 0 && login_.fastAllowed && fromPeer) {
        const std::string answer = FastAnswer(kFastMarkers[version]);
        const int error = link_.SendBytes(answer.data(), answer.size());
        if (error != 0) {
            ShowSendError(error, answer.data(), answer.size());
        } else {
            login_.fastVersion.store(version);
            seat_.RefreshStatusBar();  // the front end shows the mode
        }
    } else {
        const std::string_view answer = Word(accepted ? Kind::Ack : Kind::Nak);
        const int error = link_.SendBytes(answer.data(), answer.size());
        if (error != 0) ShowSendError(error, answer.data(), answer.size());
    }
    SetState(Waiting, false);
    Report(Operation::Login, false, u"", 0, accepted ? Outcome::Done : Outcome::Refused);
    if (login_.wrongPairs >= kMaxWrongLogins) link_.EndConnection();
}

int Protocol::SendLoginRequest() {
    std::string request = WordText(Kind::Login) + login_.text;
    login_.markerSent = login_.fastAllowed;
    if (login_.markerSent) {
        request.push_back('\0');
        request.append(kFastMarker);
    }
    return SendFrame(request.data(), request.size());
}

LoginAnswer Protocol::TakeLoginAnswer(const char* data, int32_t received) {
    // 0 bytes means the Server closed before answering: not a login.
    if (received <= 0) return LoginAnswer::CommunicationError;
    const std::string_view answer(data, std::size_t(received));
    if (Classify(data, std::size_t(received)) == Kind::Nak) return LoginAnswer::Rejected;
    if (login_.markerSent && answer == FastAnswer(kFastMarker)) {
        login_.fastVersion.store(kFastVersion);
        return LoginAnswer::Accepted;
    }
    // A peer built to the plain protocol answers exactly "ACK"; anything
    // else (a web server's error page, say) is no login.
    return answer == Word(Kind::Ack) ? LoginAnswer::Accepted : LoginAnswer::NotAPeer;
}

}  // namespace quorbel
