// The secure session of the core's host interface, from libgcrypt: the
// front ends hand it to the core from PeerLink::NewSecureSession.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/protocol/host.h"

namespace quorbel::crypto {

// The login text stretched (scrypt with `salt`) into this side's SPAKE2
// password value: null when the library fails.
std::unique_ptr<SecureSession> NewSecureSession(Role role, const std::string& loginText, const std::string& salt);

}  // namespace quorbel::crypto
