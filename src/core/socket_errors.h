// Japanese texts for Windows Sockets error codes, shown with the code when a
// connection attempt fails.
#pragma once

#include "core/text.h"

namespace quorbel {

// Every text, terminator included, fits this many UTF-16 units.
constexpr std::size_t kSocketErrorTextUnits = 32;

// Text for an exact code; "その他エラー" for any code not in the table.
// The view points to static, NUL-terminated text.
u16view SocketErrorText(int32_t code);

// The same text written NUL-terminated into a caller buffer of `capacity`
// units (at least kSocketErrorTextUnits). A smaller buffer gets the text cut
// instead of overrun; the result tells whether the whole text fitted.
bool SocketErrorText(int32_t code, char16_t* buffer, std::size_t capacity);

}  // namespace quorbel
