// The login text (ID bytes followed by PW bytes), the Server's check of a
// "PW" message and the Client's reading of the answer.
#include <cstring>

#include "core/protocol.h"

namespace quorbel {

namespace {

// A half whose ANSI form with its terminator needs 128 bytes or more is
// left empty rather than cut.
std::string LoginHalf(u16view text, const AnsiCodec& codec) {
    text = text.substr(0, BoundedLength(text.data(), text.size()));
    std::string ansi = codec.ToAnsi(text);
    if (ansi.size() + 1 >= static_cast<std::size_t>(kLoginHalfBytes)) return std::string();
    return ansi;
}

}  // namespace

std::string MakeLoginText(u16view id, u16view pw, const AnsiCodec& codec) {
    return LoginHalf(id, codec) + LoginHalf(pw, codec);
}

void Protocol::BuildLoginText(u16view id, u16view pw) {
    CopyBounded<char>(state.loginText, kLoginTextBytes, MakeLoginText(id, pw, host_.Codec()));
}

void Protocol::CheckLogin() {
    int32_t length = state.recvLength;
    if (length < 0) length = 0;
    if (length > kMaxMessageBytes) length = kMaxMessageBytes;
    char message[kRecvBufferBytes] = {};
    std::memcpy(message, state.recvBuf, static_cast<std::size_t>(length));
    CheckLoginMessage(message, length);
}

void Protocol::CheckLoginMessage(const char* bytes, int32_t length) {
    char received[kMaxMessageBytes + 1] = {};
    if (length > 2) std::memcpy(received, bytes + 2, static_cast<std::size_t>(length - 2));
    const std::size_t receivedLength = BoundedLength(received, sizeof received);
    const std::size_t expectedLength = BoundedLength(state.loginText, kLoginTextBytes);
    const bool accepted = receivedLength == expectedLength &&
                          std::memcmp(received, state.loginText, expectedLength) == 0;
    SendReply(accepted ? "ACK" : "NAK");
    SetOperationState(Waiting, false);
}

int Protocol::SendLoginRequest() {
    std::memset(state.recvBuf, 0, sizeof state.recvBuf);
    char request[kRingSlotBytes] = {'P', 'W'};
    const std::size_t textLength = BoundedLength(state.loginText, kLoginTextBytes);
    std::memcpy(request + 2, state.loginText, textLength);
    return SendFrame(request, static_cast<int32_t>(2 + textLength));
}

LoginAnswer Protocol::CheckLoginAnswer(int32_t received) const {
    // 0 bytes means the Server closed before answering: not a login.
    if (received <= 0) return LoginAnswer::CommunicationError;
    if (std::memcmp(state.recvBuf, "NAK", 3) == 0) return LoginAnswer::Rejected;
    return LoginAnswer::Accepted;
}

}  // namespace quorbel
