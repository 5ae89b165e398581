// The stored ID and PW are written to the settings file only protected with
// the current Windows user's data protection, as single-line Base64.
#pragma once

#include <string>

// The protected text, or an empty text when protection fails.
std::wstring ProtectCredential(const std::wstring& plain);
// On success fills `plain` and returns true; otherwise leaves it untouched.
bool UnprotectCredential(const std::wstring& protectedText, std::wstring& plain);
