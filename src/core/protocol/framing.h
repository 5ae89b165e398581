// Framing of the fast mode: every message goes as a 4-byte little-endian
// length and the message, so that messages longer than one receive can be
// told apart, and in a secure session every frame is sealed. The plain mode
// has no framing: one receive is one message.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/protocol/cryptography.h"
#include "core/protocol/link.h"

namespace quorbel {

constexpr std::size_t kFrameHeaderBytes = 4;

// A 32-bit value as four little-endian bytes, as frame lengths and the
// times of an end record travel.
void PutLittleEndian32(char* out, uint32_t value);
uint32_t GetLittleEndian32(const char* in);

// Writes the header of a frame of `length` bytes into out[0..3].
inline void PutFrameHeader(char* out, uint32_t length) { PutLittleEndian32(out, length); }

// Reassembles frames from the bytes of a stream; holds at most one frame.
class FrameReader {
public:
    explicit FrameReader(std::size_t maxMessageBytes);

    // Where the next receive may write, and how many bytes it may take.
    char* Space();
    std::size_t SpaceBytes() const;
    // The receive put `n` bytes at Space(). Once the stream holds a frame
    // length of 0 or above the largest message, nothing more can be read
    // from it (Failed).
    void Commit(std::size_t n);

    // The next whole message, if one is there; it stays valid until the
    // next call of Next, Space, Commit or Reset.
    bool Next(const char*& data, std::size_t& length);
    // The same, the message writable in place (a sealed frame opens there),
    // its header the kFrameHeaderBytes before it.
    bool Next(char*& data, std::size_t& length);

    void Reset();
    bool Failed() const { return failed_; }

private:
    void CheckHeader();

    std::size_t maxMessage_;
    std::vector<char> buffer_;  // one frame with its header
    std::size_t begin_ = 0, end_ = 0;
    bool failed_ = false;
};

// A sealed frame could not be formed, or a Client offering the secure
// session has no cryptography: nothing was sent.
constexpr int kNotSecure = -2;

// The secure session once both sides confirmed the exchange: every frame
// in both directions is sealed, in the order it leaves, from either thread.
class SecureChannel {
public:
    void Begin(std::unique_ptr<SecureSession> session);
    void End();
    bool Sealed() const { return sealed_.load(); }
    // The frame at `frame`, its header's room and the `length` bytes after
    // it, framed and (once sealed) sealed in place with its tag after them,
    // in room the caller leaves; then sent. 0, the link's error, or
    // kNotSecure.
    int Send(PeerLink& link, char* frame, std::size_t length);
    // A received frame's message of `length` bytes, its header just before
    // it, opened in place: its length without the tag, or false when it is
    // not the peer's next frame unchanged, and nothing opens after it.
    bool Open(char* message, std::size_t& length);

private:
    std::mutex lock_;  // the sends of both threads
    std::unique_ptr<SecureSession> session_;
    std::atomic<bool> sealed_{false};
};

}  // namespace quorbel
