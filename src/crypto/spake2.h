// SPAKE2 over P-256 (SPAKE2-P256-SHA256-HKDF-HMAC of RFC 9382): the two
// programs prove they share the login text without sending it or anything
// an eavesdropper could test guesses against. A is the Client, B the
// Server. Each side sends its share, takes the peer's, then sends its
// confirmation and checks the peer's; only after that check is the
// session key worth anything. Portable C++17; libgcrypt stays in
// spake2.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "crypto/kdf.h"

namespace quorbel::crypto {

enum class Spake2Role { kA, kB };  // kA: the Client; kB: the Server

// The identities the program puts in the transcript: fixed role names,
// since neither side has a name the other could check.
inline constexpr char kSpake2IdentityA[] = "quorbel client";
inline constexpr char kSpake2IdentityB[] = "quorbel server";

class Spake2 {
public:
    static constexpr std::size_t kShareBytes = 65;  // uncompressed SEC1 point
    static constexpr std::size_t kKeyBytes = 16;
    static constexpr std::size_t kConfirmationBytes = 32;
    using Share = std::array<uint8_t, kShareBytes>;
    using Key = std::array<uint8_t, kKeyBytes>;
    using Confirmation = std::array<uint8_t, kConfirmationBytes>;

    // Everything the exchange derived, once the peer's share was taken.
    struct Schedule {
        std::string transcript;  // TT
        Share k{};               // the shared point K
        Key ke{}, ka{}, kcA{}, kcB{};
        Confirmation cA{}, cB{};
    };

    // This side with a fresh random scalar, the program's identities, and
    // `aad` bound into the confirmation keys.
    Spake2(Spake2Role role, const Scalar& w, const std::string& aad = std::string());
    // For known-answer tests: this side's scalar (x or y) and both
    // identities given instead of drawn and fixed.
    Spake2(Spake2Role role, const Scalar& w, const Scalar& scalar, const std::string& identityA,
           const std::string& identityB, const std::string& aad);
    ~Spake2();
    Spake2(const Spake2&) = delete;
    Spake2& operator=(const Spake2&) = delete;

    // Whether `share` is an uncompressed point of the curve: what a share
    // must be before anything is spent on it.
    static bool IsShare(const uint8_t* share, std::size_t length);

    // False when the library could not form this side's share; nothing
    // else then works.
    bool Ok() const { return ok_; }
    const Share& OwnShare() const { return share_; }

    // Takes the peer's share: false, and the exchange over, unless it is an
    // uncompressed point of the curve whose K is not the identity.
    bool TakePeerShare(const uint8_t* share, std::size_t length);
    bool HasKeys() const { return keyed_; }

    // Valid once the peer's share was taken.
    const Confirmation& OwnConfirmation() const;
    // True only when the peer's confirmation matches (checked in constant
    // time): the peer knew the same password and saw the same shares.
    bool PeerConfirms(const uint8_t* confirmation, std::size_t length) const;
    // Ke, to be used only once PeerConfirms said yes.
    const Key& SessionKey() const { return schedule_.ke; }
    const Schedule& Keys() const { return schedule_; }

private:
    struct Group;
    void Begin(const Scalar& w, const Scalar* scalar);

    Spake2Role role_;
    std::string identityA_, identityB_, aad_;
    std::unique_ptr<Group> group_;
    Share share_{};
    Schedule schedule_;
    bool ok_ = false;
    bool keyed_ = false;
};

// Equality of two byte runs in a time that does not depend on where they
// differ.
bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, std::size_t length);

}  // namespace quorbel::crypto
