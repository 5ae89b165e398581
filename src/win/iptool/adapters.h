// The adapter list of the Add-IP dialog, apart from the system query so the
// filtering of a chain of adapter records can be checked on its own.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <string>
#include <vector>

// The rows for a chain of adapter records, in chain order: each listed
// adapter's friendly name. Nameless and over-long names, Wi-Fi Direct
// virtual adapters and the loopback (last unicast address 127.0.0.1...)
// are left out.
std::vector<std::wstring> AdapterRows(const IP_ADAPTER_ADDRESSES* first);

// Refills the list box with the rows of this PC's adapters; a failed query
// (or a PC without adapters) leaves it empty.
void ListNetworkAdapters(HWND list);
