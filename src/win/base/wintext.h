// Bridges between the core's char16_t text and Win32's wchar_t text, the
// thread's ANSI code page, and the program's own module.
#pragma once

#include <windows.h>

#include <string>

#include "core/base/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

inline const wchar_t* AsWide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline const char16_t* AsU16(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }
inline quorbel::u16view AsU16View(const std::wstring& s) { return quorbel::u16view(AsU16(s.c_str()), s.size()); }
inline quorbel::u16view AsU16View(const wchar_t* s) { return quorbel::u16view(AsU16(s)); }
inline std::wstring ToWide(quorbel::u16view s) { return std::wstring(AsWide(s.data()), s.size()); }

// WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS) and back with
// MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED): how text goes to and
// comes from the wire.
class ThreadAnsiCodec : public quorbel::AnsiCodec {
public:
    std::string ToAnsi(quorbel::u16view text) const override;
    quorbel::u16 FromAnsi(std::string_view bytes) const override;
};
const ThreadAnsiCodec& AnsiCodecForThread();
// UTF-8, for texts of the settings that the core keeps as bytes.
std::string ToUtf8(quorbel::u16view text);
quorbel::u16 FromUtf8(std::string_view bytes);

// The text of a window (a control), at most maxChars characters.
std::wstring WindowText(HWND window, int maxChars);
inline std::wstring ItemText(HWND dialog, int id, int maxChars) { return WindowText(GetDlgItem(dialog, id), maxChars); }

// Decimal text of a number, as edits and the settings show it.
std::wstring Decimal(long long value);

// The module whose resources (menu, templates, icons) the windows use.
inline HINSTANCE ProgramInstance() { return GetModuleHandleW(nullptr); }
