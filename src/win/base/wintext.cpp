#include "win/base/wintext.h"

#include <vector>

namespace {

std::string ToBytes(UINT codePage, DWORD flags, quorbel::u16view text) {
    if (text.empty()) return {};
    const wchar_t* w = AsWide(text.data());
    const int len = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(codePage, flags, w, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, w, len, out.data(), n, nullptr, nullptr);
    return out;
}

quorbel::u16 FromBytes(UINT codePage, DWORD flags, std::string_view bytes) {
    if (bytes.empty()) return {};
    const int len = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(codePage, flags, bytes.data(), len, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), len, out.data(), n);
    return quorbel::u16(AsU16(out.c_str()), out.size());
}

}  // namespace

std::string ThreadAnsiCodec::ToAnsi(quorbel::u16view text) const {
    return ToBytes(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text);
}

quorbel::u16 ThreadAnsiCodec::FromAnsi(std::string_view bytes) const {
    return FromBytes(CP_THREAD_ACP, MB_PRECOMPOSED, bytes);
}

std::string ToUtf8(quorbel::u16view text) { return ToBytes(CP_UTF8, 0, text); }
quorbel::u16 FromUtf8(std::string_view bytes) { return FromBytes(CP_UTF8, 0, bytes); }

const ThreadAnsiCodec& AnsiCodecForThread() {
    static const ThreadAnsiCodec codec;
    return codec;
}

std::wstring WindowText(HWND window, int maxChars) {
    std::vector<wchar_t> buf(static_cast<size_t>(maxChars) + 1, L'\0');
    const int n = GetWindowTextW(window, buf.data(), maxChars + 1);
    return std::wstring(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring Decimal(long long value) { return std::to_wstring(value); }
