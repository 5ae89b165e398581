// The stored ID and PW are written to the settings file only protected with
// the current Windows user's data protection, as single-line Base64; each
// pair set gets a salt of its own from the strong random source.
#include "win/app/credentials.h"

#include <wincrypt.h>

#include <vector>

#include "core/protocol/login.h"
#include "crypto/crypto.h"
#include "win/base/wintext.h"

quorbel::u16 DpapiVault::Protect(quorbel::u16view plain) {
    // The terminator is protected too, so an empty text still gives a blob.
    std::wstring text = ToWide(plain);
    DATA_BLOB input;
    input.pbData = reinterpret_cast<BYTE*>(text.data());
    input.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    DATA_BLOB output = {};
    if (!CryptProtectData(&input, L"ap_id", nullptr, nullptr, nullptr, 0, &output)) return {};
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD chars = 0;
    quorbel::u16 result;
    if (CryptBinaryToStringW(output.pbData, output.cbData, flags, nullptr, &chars) && chars > 0) {
        std::vector<wchar_t> buf(chars + 1, L'\0');
        if (CryptBinaryToStringW(output.pbData, output.cbData, flags, buf.data(), &chars)) result = AsU16(buf.data());
    }
    LocalFree(output.pbData);
    return result;
}

bool DpapiVault::Unprotect(quorbel::u16view text, quorbel::u16& plain) {
    const std::wstring base64 = ToWide(text);
    DWORD size = 0;
    if (!CryptStringToBinaryW(base64.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr) || size == 0)
        return false;
    std::vector<BYTE> bytes(size);
    if (!CryptStringToBinaryW(base64.c_str(), 0, CRYPT_STRING_BASE64, bytes.data(), &size, nullptr, nullptr))
        return false;
    DATA_BLOB input = {size, bytes.data()};
    DATA_BLOB output = {};
    if (!CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, 0, &output)) return false;
    // UTF-16 text up to its first zero, never past the blob's end.
    const char16_t* units = reinterpret_cast<const char16_t*>(output.pbData);
    plain.assign(units, quorbel::BoundedLength(units, output.cbData / sizeof(char16_t)));
    LocalFree(output.pbData);
    return true;
}

quorbel::u16 NewPairSalt() { return quorbel::PairSaltText(quorbel::crypto::RandomBytes(quorbel::kServerSaltBytes)); }
