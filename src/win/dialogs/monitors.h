// What each traffic monitor draws, row by row.
#pragma once

#include <string>
#include <vector>

#include "win/dialogs/dialogs.h"

struct MonitorRow {
    int y;
    std::wstring text;
};

// Every slot of the kind's store, in slot (drawing) order, with the y of
// its row (20 pixels apart): the rings one row per slot, the directory
// table 32 rows, each row's later slots drawn over its earlier ones. A
// slot's text ends at its first zero byte or at the slot's end, whichever
// comes first, and shows at most 256 characters.
std::vector<MonitorRow> MonitorRows(MonitorKind kind, const quorbel::Protocol& protocol);
