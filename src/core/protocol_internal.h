// Small helpers shared by the protocol sources; not part of the interface.
#pragma once

#include <string>

#include "core/text.h"

namespace quorbel {

// Decimal text of a number as UTF-16 (for box texts).
inline u16 AsciiNumber(long long value) { return FromAscii(std::to_string(value)); }

}  // namespace quorbel
