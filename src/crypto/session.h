// The core's cryptography from libgcrypt: the secure session and the
// resume check's hash. Both front ends hand a Library to their Protocol.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/protocol/cryptography.h"

namespace quorbel::crypto {

// The login text stretched (scrypt with `salt`) into this side's SPAKE2
// password value: null when the library fails.
std::unique_ptr<SecureSession> NewSecureSession(Role role, const std::string& loginText, const std::string& salt);

class Library : public Cryptography {
public:
    std::unique_ptr<SecureSession> NewSecureSession(Role role, const std::string& loginText,
                                                    const std::string& salt) override;
    std::unique_ptr<PartHash> NewPartHash() override;
    bool IsShare(const char* share, std::size_t length) override;
};

}  // namespace quorbel::crypto
