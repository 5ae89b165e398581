// The stored ID and PW as Quorbel.ini keeps them: protected for the current
// Windows user (DPAPI, description "ap_id"), as one line of Base64; and the
// Server's own salt that goes with them.
#pragma once

#include <windows.h>

#include "core/settings/settings.h"

class DpapiVault : public quorbel::CredentialVault {
public:
    quorbel::u16 Protect(quorbel::u16view plain) override;
    bool Unprotect(quorbel::u16view text, quorbel::u16& plain) override;
};

// A new salt for the stored pair (pair_salt's text); empty when the
// cryptography library gives no random bytes, and the Server then offers
// only the exchanges salted without it.
quorbel::u16 NewPairSalt();
