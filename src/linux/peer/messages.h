// The lines quorbel-peer writes on stderr, each "quorbel-peer: " + text.
#pragma once

#include <string>

#include "core/base/text.h"

namespace quorbel::peer {

// Always shown.
void Error(const std::string& text);
// Shown unless quiet.
void Note(const std::string& text);
void SetQuiet(bool quiet);
bool Quiet();
// With --verbose: a step of the connection or the login.
void SetVerbose(bool verbose);
void Detail(const std::string& text);

// A box of the core as one line: its caption and its text's first line
// (the rest of a failed send's box repeats the message, file data and all).
std::string BoxLine(u16view caption, u16view text);

}  // namespace quorbel::peer
