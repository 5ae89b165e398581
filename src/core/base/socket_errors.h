// Japanese texts for Windows Sockets error codes, shown with the code when a
// connection attempt fails.
#pragma once

#include <vector>

#include "core/base/text.h"

namespace quorbel {


// Text for an exact code; "その他エラー" for any code not in the table.
// The view points to static, NUL-terminated text.
u16view SocketErrorText(int32_t code);

// Every code of the table, in its order.
std::vector<int32_t> SocketErrorCodes();

}  // namespace quorbel
