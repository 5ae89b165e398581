// The traffic monitors: what each window draws, row by row.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dialogs/dialogs.h"

// Rows are this many pixels apart whatever the font.
constexpr int kMonitorRowPixels = 20;
// Longest text drawn for one slot.
constexpr int kMonitorSlotTextChars = 256;

// The text of one slot: its ANSI text up to the first zero byte, never past
// the slot's `slotBytes`, converted from the thread's code page and cut to
// kMonitorSlotTextChars characters.
std::wstring MonitorSlotText(const char* slot, size_t slotBytes);

struct MonitorRow {
    int y;
    std::wstring text;
};
// Every slot of the kind's store, in slot (drawing) order, with the y of its
// row: the rings one row per slot, the directory table 32 rows with each
// row's later slots drawn over its earlier ones.
std::vector<MonitorRow> MonitorRows(MonitorKind kind);

const wchar_t* MonitorTitle(MonitorKind kind);
