#include "core/protocol/framing.h"

#include <cstring>

namespace quorbel {

void PutLittleEndian32(char* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t GetLittleEndian32(const char* in) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(in);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// The buffer is made at the first receive: a plain connection never needs it.
FrameReader::FrameReader(std::size_t maxMessageBytes) : maxMessage_(maxMessageBytes) {}

void FrameReader::Reset() {
    begin_ = end_ = 0;
    failed_ = false;
}

char* FrameReader::Space() {
    if (buffer_.empty()) buffer_.resize(kFrameHeaderBytes + maxMessage_);
    // A message handed out by Next is done with now: move what follows it
    // to the front so that a whole frame always fits.
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    return buffer_.data() + end_;
}

std::size_t FrameReader::SpaceBytes() const {
    return failed_ ? 0 : kFrameHeaderBytes + maxMessage_ - (end_ - begin_);
}

void FrameReader::CheckHeader() {
    if (end_ - begin_ < kFrameHeaderBytes) return;
    const uint32_t length = GetLittleEndian32(buffer_.data() + begin_);
    if (length == 0 || length > maxMessage_) failed_ = true;
}

void FrameReader::Commit(std::size_t n) {
    if (failed_) return;
    if (n > buffer_.size() - end_) n = buffer_.size() - end_;
    end_ += n;
    CheckHeader();
}

bool FrameReader::Next(const char*& data, std::size_t& length) {
    char* writable = nullptr;
    if (!Next(writable, length)) return false;
    data = writable;
    return true;
}

bool FrameReader::Next(char*& data, std::size_t& length) {
    if (failed_ || end_ - begin_ < kFrameHeaderBytes) return false;
    const uint32_t frame = GetLittleEndian32(buffer_.data() + begin_);
    if (end_ - begin_ < kFrameHeaderBytes + frame) return false;
    data = buffer_.data() + begin_ + kFrameHeaderBytes;
    length = frame;
    begin_ += kFrameHeaderBytes + frame;
    // The next frame's header, if it is here already, is checked at once.
    CheckHeader();
    return true;
}

void SecureChannel::Begin(std::unique_ptr<SecureSession> session) {
    std::lock_guard<std::mutex> guard(lock_);
    session_ = std::move(session);
    sealed_.store(session_ != nullptr);
}

void SecureChannel::End() {
    // A send of the window thread may be sealing right now.
    std::lock_guard<std::mutex> guard(lock_);
    sealed_.store(false);
    session_.reset();
}

int SecureChannel::Send(PeerLink& link, char* frame, std::size_t length) {
    // The header is bound to a sealed frame: its length cannot change unseen.
    const std::size_t tag = sealed_.load() ? SecureSession::kTagBytes : 0;
    PutFrameHeader(frame, static_cast<uint32_t>(length + tag));
    if (tag == 0) return link.SendBytes(frame, kFrameHeaderBytes + length);
    // Frames leave in the order they were sealed, or none opens.
    std::lock_guard<std::mutex> guard(lock_);
    if (!session_ || !session_->Seal(frame + kFrameHeaderBytes, length, frame, kFrameHeaderBytes)) return kNotSecure;
    return link.SendBytes(frame, kFrameHeaderBytes + length + tag);
}

bool SecureChannel::Open(char* message, std::size_t& length) {
    if (!sealed_.load()) return true;
    // A frame changed, replayed, dropped before this one or out of its
    // order does not open: nothing more of this stream counts.
    if (!session_ || length < SecureSession::kTagBytes ||
        !session_->Open(message, length, message - kFrameHeaderBytes, kFrameHeaderBytes))
        return false;
    length -= SecureSession::kTagBytes;
    return true;
}

}  // namespace quorbel
