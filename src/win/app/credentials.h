// The stored ID and PW as Quorbel.ini keeps them: protected for the current
// Windows user (DPAPI, description "ap_id"), as one line of Base64.
#pragma once

#include <windows.h>

#include "core/settings/settings.h"

class DpapiVault : public quorbel::CredentialVault {
public:
    quorbel::u16 Protect(quorbel::u16view plain) override;
    bool Unprotect(quorbel::u16view text, quorbel::u16& plain) override;
};
