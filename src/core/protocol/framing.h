// Framing of the fast mode: every message goes as a 4-byte little-endian
// length and the message, so that messages longer than one receive can be
// told apart. The plain mode has no framing: one receive is one message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace quorbel
