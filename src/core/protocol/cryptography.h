// What the protocol asks of the front end's cryptography library (libgcrypt
// behind src/crypto): the secure session and the hash of a resume check.
// The core holds no primitive of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "core/protocol/wire.h"

namespace quorbel {

// A password-authenticated key exchange over the login text, then every
// frame sealed. The Client is one side of the exchange, the Server the
// other; both stretch the login text with the same salt before their
// shares exist.
class SecureSession {
public:
    static constexpr std::size_t kShareBytes = 65;
    static constexpr std::size_t kConfirmationBytes = 32;
    // What sealing adds to a frame.
    static constexpr std::size_t kTagBytes = 16;
    virtual ~SecureSession() = default;
    virtual std::string OwnShare() const = 0;
    // False when the peer's share cannot be one: the exchange is over.
    virtual bool TakePeerShare(const char* share, std::size_t length) = 0;
    // Valid once the peer's share was taken.
    virtual std::string OwnConfirmation() const = 0;
    // True only when the peer knew the same login text and saw the same
    // shares; sealing works from then on.
    virtual bool PeerConfirms(const char* confirmation, std::size_t length) = 0;
    // The next frame of this side, `length` bytes at `data` sealed in
    // place and its tag written after them, `aad` bound to it.
    virtual bool Seal(char* data, std::size_t length, const char* aad, std::size_t aadLength) = 0;
    // The peer's next frame, `length` bytes with its tag, opened in place.
    // False when it is not that frame unchanged with this `aad`; nothing
    // opens after that.
    virtual bool Open(char* data, std::size_t length, const char* aad, std::size_t aadLength) = 0;
};

// A hash of the bytes a copy would resume after: both sides must form the
// same one.
class PartHash {
public:
    // Its digest as lower-case hex, this many digits (SHA-256).
    static constexpr std::size_t kHexDigits = 64;
    virtual ~PartHash() = default;
    virtual void Add(const char* data, std::size_t length) = 0;
    // The digest of everything added; empty when the library failed.
    virtual std::string FinishHex() = 0;
};

class Cryptography {
public:
    virtual ~Cryptography() = default;
    // A secure session, its login text stretched with `salt` (this takes a
    // noticeable part of a second); null when the library failed: a Server
    // then answers as one that knows no secure session, a Client sends no
    // login.
    virtual std::unique_ptr<SecureSession> NewSecureSession(Role role, const std::string& loginText,
                                                            const std::string& salt) = 0;
    // A new hash for a resume check; null when the library failed, which
    // never resumes.
    virtual std::unique_ptr<PartHash> NewPartHash() = 0;
    // Whether these bytes can be a share of the exchange at all: checked
    // before anything is stretched for it.
    virtual bool IsShare(const char* share, std::size_t length) = 0;
};

}  // namespace quorbel
