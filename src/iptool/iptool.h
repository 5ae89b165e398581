// The IP address tool: batch files that set an adapter's address with netsh.
#pragma once

#include <windows.h>

INT_PTR RunIpAddressDialog(HWND owner);
