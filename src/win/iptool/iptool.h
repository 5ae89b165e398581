// The IP address tool: batch files that set an adapter's address with
// netsh, run with administrator rights, optionally after the companion
// tool zelvane.exe.
#pragma once

#include <windows.h>

#include <string>

#include "core/settings/settings.h"

struct IpToolValues {
    std::wstring startupFolder;             // holds ipaddress\, zelvane.ini and zelvane.exe
    int32_t& companionLaunch;               // the check box; kept in Quorbel.ini
    quorbel::CompanionSettings& companion;  // kept for the run, read again at every opening
};

// "IP Address Setting" (template 17). Always 1.
INT_PTR RunIpAddressDialog(HWND owner, IpToolValues& values);
// "Add IP Address" (template 18): writes one batch file. Always 1.
INT_PTR RunAddIpDialog(HWND owner, const std::wstring& startupFolder);
