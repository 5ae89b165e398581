// The login text (ID bytes followed by PW bytes), the Server's check of a
// "PW" message with the fast mode's marker, and the Client's reading of the
// answer.
#include <cstring>

#include "core/protocol.h"

namespace quorbel {

namespace {

constexpr std::size_t kLoginHalfBytes = 128;  // one half with its terminator
// "ACK", NUL and the marker: our Server's answer to a Client that offered it.
std::string FastAnswer() { return std::string("ACK", 4) + kFastMarker; }

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

void Protocol::BuildLoginText(u16view id, u16view pw) { loginText_ = MakeLoginText(id, pw, host_.Codec()); }

void Protocol::CheckLogin(const Message& m, bool fromPeer) {
    // The text is compared up to its first NUL; what follows the NUL is the
    // fast mode's marker, which a Server that does not know it never sees.
    const char* text = m.bytes + 2;
    const std::size_t textLength = m.textLength - 2;
    const bool accepted = std::string_view(text, textLength) == loginText_;
    const std::size_t markerAt = 2 + textLength + 1;
    const bool markerOffered = m.length == markerAt + std::strlen(kFastMarker) &&
                               std::memcmp(m.bytes + markerAt, kFastMarker, std::strlen(kFastMarker)) == 0;
    if (accepted) loggedIn_ = true;
    if (accepted && markerOffered && fastAllowed_ && fromPeer) {
        const std::string answer = FastAnswer();
        const int error = host_.SendBytes(answer.data(), answer.size());
        if (error != 0) {
            ShowSendError(error, answer.data(), answer.size());
        } else {
            fast_.store(true);
            host_.RefreshStatusBar();  // the front end shows the mode
        }
    } else {
        const char* answer = accepted ? "ACK" : "NAK";
        const int error = host_.SendBytes(answer, 3);
        if (error != 0) ShowSendError(error, answer, 3);
    }
    SetState(Waiting, false);
    Report(Operation::Login, false, u"", 0, accepted ? Outcome::Done : Outcome::Refused);
}

int Protocol::SendLoginRequest() {
    std::string request = "PW" + loginText_;
    markerSent_ = fastAllowed_;
    if (markerSent_) {
        request.push_back('\0');
        request.append(kFastMarker);
    }
    return SendFrame(request.data(), request.size());
}

LoginAnswer Protocol::TakeLoginAnswer(const char* data, int32_t received) {
    // 0 bytes means the Server closed before answering: not a login.
    if (received <= 0) return LoginAnswer::CommunicationError;
    if (received >= 3 && std::memcmp(data, "NAK", 3) == 0) return LoginAnswer::Rejected;
    if (markerSent_ && std::string_view(data, std::size_t(received)) == FastAnswer()) fast_.store(true);
    return LoginAnswer::Accepted;
}

}  // namespace quorbel
