// libgcrypt's start-up and SHA-256, which the rest of this library and the
// resume check build on. Portable C++17 like the core: the library's own
// header stays in the .cpp files that call it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/protocol/cryptography.h"

namespace quorbel::crypto {

// Starts libgcrypt once for the whole program (later calls do nothing):
// the version check, and no secure memory, which needs privileges a
// desktop program lacks and which nothing here holds. False when the
// linked library is older than the one built against.
bool Start();

// SHA-256 over bytes given piece by piece.
class Sha256 {
public:
    static constexpr std::size_t kBytes = 32;
    using Digest = std::array<uint8_t, kBytes>;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when the library could not give the hash: its digest then
    // means nothing and must not be compared.
    bool Ok() const { return handle_ != nullptr; }
    void Add(const void* data, std::size_t length);
    // The digest of everything added; the object then starts afresh.
    Digest Finish();

private:
    void* handle_ = nullptr;  // gcry_md_hd_t
};

// Lower-case hex, two digits a byte.
std::string Hex(const Sha256::Digest& digest);

// `count` bytes from the library's strong random source (a Server's own
// salt); empty when the library could not start.
std::string RandomBytes(std::size_t count);

// The resume check's hash.
std::unique_ptr<PartHash> NewPartHash();

}  // namespace quorbel::crypto
