// Display forms of the core's texts and values, for the lines of a log or of ls.
#pragma once

#include <string>

#include "core/base/text.h"
#include "core/protocol/seat.h"

namespace quorbel::peer {

std::string Utf8(u16view text);
// A peer's text for one line: each control character (C0, DEL, C1)
// becomes "?", which no Windows name holds, so that nothing a peer sends
// drives the terminal or starts another line or field.
std::string Printable(u16view text);
const char* OutcomeName(Outcome outcome);

}  // namespace quorbel::peer
