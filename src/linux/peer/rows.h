// The lines of ls: one row of the peer's listing each.
#pragma once

#include <cstdint>
#include <string>

#include "core/panes/folder_rows.h"

namespace quorbel::peer {

// A FILETIME value as ISO 8601 in UTC, to its 100 ns; empty for 0 (unknown)
// or a time the calendar cannot show.
std::string IsoTime(uint64_t fileTime);
// One line of ls on standard output. An exact row's tab-separated form
// gives the full time and the size in bytes (of a file) in place of the
// two texts.
void PrintRow(const PaneRow& row, bool tsv);

}  // namespace quorbel::peer
