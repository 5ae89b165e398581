// This PC's own host address and name, as the host header and the
// "HostName" command show them.
#pragma once

#include <windows.h>

#include "app/shell.h"

// Converts a looked-up ANSI text (the system code page) into a host field.
// A text that does not fit the field whole leaves it unchanged, so the
// field never shows a cut name. True when the text was stored.
bool StoreHostText(const char* text, wchar_t (&field)[kHostChars]);
