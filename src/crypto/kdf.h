// Keys from keys and from passwords: HMAC-SHA256, HKDF-SHA256 (RFC 5869)
// and the memory-hard stretch of the login text into a scalar for the
// password-authenticated key exchange. Portable C++17; libgcrypt stays in
// kdf.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorbel::crypto {

// A P-256 scalar, 32 bytes big-endian, below the group order.
using Scalar = std::array<uint8_t, 32>;

// HMAC-SHA256 of `data` under `key` into `mac` (32 bytes). False when the
// library fails; `mac` then means nothing.
bool HmacSha256(const uint8_t* key, std::size_t keyLength, const void* data, std::size_t length, uint8_t* mac);

// HKDF-SHA256: extract with `salt` (none: 32 zero bytes), then expand with
// `info` into `length` bytes (at most 255 * 32).
bool HkdfSha256(const uint8_t* ikm, std::size_t ikmLength, const uint8_t* salt, std::size_t saltLength,
                const void* info, std::size_t infoLength, uint8_t* out, std::size_t length);

// scrypt with the stretch's fixed cost: N = 16384, r = 8, p = 1, which is
// 16 MiB of memory and about 0.4 s for the 32-bit program under Wine, the
// most the login may spend on it; every offline guess at a captured
// exchange costs the same. (libgcrypt fixes r at 8 for this algorithm.)
inline constexpr unsigned long kScryptCost = 16384;       // N
inline constexpr unsigned long kScryptParallelism = 1;    // p
bool Scrypt(const std::string& password, const std::string& salt, uint8_t* out, std::size_t length);

// The password value w: 48 bytes of scrypt over the login text, reduced
// modulo the P-256 group order (64 bits beyond its size leave no usable
// bias). False when the library fails.
bool StretchPassword(const std::string& loginText, const std::string& salt, Scalar* w);

}  // namespace quorbel::crypto
