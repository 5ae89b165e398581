// The protocol's cryptography on Windows: libgcrypt's, with the login
// text's stretch kept off the window thread's painting.
#pragma once

#include <windows.h>

#include "core/protocol/cryptography.h"
#include "crypto/session.h"

class WinCryptography : public quorbel::Cryptography {
public:
    std::unique_ptr<quorbel::SecureSession> NewSecureSession(quorbel::Role role, const std::string& loginText,
                                                             const std::string& salt) override;
    std::unique_ptr<quorbel::PartHash> NewPartHash() override { return library_.NewPartHash(); }
    bool IsShare(const char* share, std::size_t length) override { return library_.IsShare(share, length); }

private:
    quorbel::crypto::Library library_;
    DWORD windowThread_ = GetCurrentThreadId();  // the thread that made us
};
