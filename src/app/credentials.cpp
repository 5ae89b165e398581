#include "app/credentials.h"

#include <windows.h>
#include <wincrypt.h>

#include <vector>

std::wstring ProtectCredential(const std::wstring& plain) {
    // The terminator is protected too, so an empty text still gives a blob.
    DATA_BLOB input;
    input.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(plain.c_str()));
    input.cbData = static_cast<DWORD>((plain.size() + 1) * sizeof(wchar_t));
    DATA_BLOB output = {};
    if (!CryptProtectData(&input, L"ap_id", nullptr, nullptr, nullptr, 0, &output)) return std::wstring();

    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD chars = 0;
    std::wstring text;
    if (CryptBinaryToStringW(output.pbData, output.cbData, flags, nullptr, &chars) && chars > 0) {
        std::vector<wchar_t> buf(chars + 1, L'\0');
        if (CryptBinaryToStringW(output.pbData, output.cbData, flags, buf.data(), &chars)) text = buf.data();
    }
    LocalFree(output.pbData);
    return text;
}

bool UnprotectCredential(const std::wstring& protectedText, std::wstring& plain) {
    DWORD size = 0;
    if (!CryptStringToBinaryW(protectedText.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr))
        return false;
    if (size == 0) return false;
    std::vector<BYTE> bytes(size);
    if (!CryptStringToBinaryW(protectedText.c_str(), 0, CRYPT_STRING_BASE64, bytes.data(), &size, nullptr, nullptr))
        return false;
    DATA_BLOB input = {size, bytes.data()};
    DATA_BLOB output = {};
    if (!CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, 0, &output)) return false;
    // The blob holds UTF-16 text; read it up to its first zero, never past its end.
    const wchar_t* text = reinterpret_cast<const wchar_t*>(output.pbData);
    size_t units = output.cbData / sizeof(wchar_t);
    size_t length = 0;
    while (length < units && text[length] != L'\0') ++length;
    plain.assign(text, length);
    LocalFree(output.pbData);
    return true;
}
