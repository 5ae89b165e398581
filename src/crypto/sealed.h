// Sealed frames of a secure session: AES-256-GCM (the processor's own AES
// and carry-less multiply instructions make it the fastest seal on x86,
// also for the 32-bit program) with one key per direction drawn from the
// exchange's session key, and the frame's number in that direction as its
// nonce. Each side counts the frames it seals and
// the frames it opens, so a frame changed, replayed, dropped before
// another or swapped with another fails to open, and the first failure
// ends the direction. Portable C++17; libgcrypt stays in sealed.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/spake2.h"

namespace quorbel::crypto {

enum class Direction { kClientToServer, kServerToClient };

// HKDF info strings of the two directions' keys (no salt, Ke as the key).
inline constexpr char kClientToServerInfo[] = "quorbel client to server";
inline constexpr char kServerToClientInfo[] = "quorbel server to client";

// One direction: the sender seals with it, the receiver opens with its own.
// Neither allocates per frame.
class SealedChannel {
public:
    static constexpr std::size_t kTagBytes = 16;
    static constexpr std::size_t kKeyBytes = 32;

    SealedChannel(const Spake2::Key& sessionKey, Direction direction);
    ~SealedChannel();
    SealedChannel(const SealedChannel&) = delete;
    SealedChannel& operator=(const SealedChannel&) = delete;

    // False when the library failed or a frame did not open: nothing more
    // seals or opens then.
    bool Ok() const { return handle_ != nullptr && !broken_; }
    // Frames sealed or opened so far.
    uint64_t Frames() const { return frames_; }

    // Seals `length` bytes of `plain` as the next frame into `sealed`
    // (length + kTagBytes bytes; may be `plain` itself), binding `aad`
    // (sent in the clear, e.g. a header) to it.
    bool Seal(const uint8_t* plain, std::size_t length, uint8_t* sealed, const uint8_t* aad = nullptr,
              std::size_t aadLength = 0);
    // Opens the next frame, `length` bytes with its tag, into `plain`
    // (length - kTagBytes bytes; may be `sealed` itself). False when it is
    // not the next frame sealed in this direction, unchanged, with this
    // `aad`; `plain` then holds zeros.
    bool Open(const uint8_t* sealed, std::size_t length, uint8_t* plain, const uint8_t* aad = nullptr,
              std::size_t aadLength = 0);

private:
    bool Next(const uint8_t* aad, std::size_t aadLength);

    void* handle_ = nullptr;  // gcry_cipher_hd_t
    uint64_t frames_ = 0;
    bool broken_ = false;
};

}  // namespace quorbel::crypto
