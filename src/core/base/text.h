// Portable text helpers shared by the protocol core and the Win32 front end.
// UTF-16 text is char16_t; ANSI bytes are char. No OS headers here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorbel {

using u16 = std::u16string;
using u16view = std::u16string_view;

// Conversion between UTF-16 and the thread's ANSI code page. The Win32 layer
// implements it with WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS)
// and MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED); tests use a fake.
class AnsiCodec {
public:
    virtual ~AnsiCodec() = default;
    // Bytes of the text without a terminator.
    virtual std::string ToAnsi(u16view text) const = 0;
    virtual u16 FromAnsi(std::string_view bytes) const = 0;
};

// Length up to the first zero, never past `capacity`.
template <typename Ch>
std::size_t BoundedLength(const Ch* s, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && s[n] != Ch(0)) ++n;
    return n;
}

// ASCII text to UTF-16 (for formats built from digits and fixed ASCII words).
inline u16 FromAscii(std::string_view s) {
    u16 out;
    out.reserve(s.size());
    for (unsigned char c : s) out.push_back(char16_t(c));
    return out;
}

// _wcsicmp in the "C" locale: folds A-Z only, compares unsigned code units.
int CompareNoCase(u16view a, u16view b);
// Names ordered as Windows compares them, for the maps of a folder's entries.
struct NoCaseLess {
    bool operator()(const u16& a, const u16& b) const { return CompareNoCase(a, b) < 0; }
};

// _wtoi: optional white space, optional sign, digits up to the first
// non-digit; no digit gives 0. Saturates instead of overflowing.
int32_t ParseLeadingInt(u16view text);


}  // namespace quorbel
