// The IP address tool: batch files that set an adapter's address with netsh.
#pragma once

#include <windows.h>

#include <cstdint>

// "IP Address Setting" (template 17): lists, adds, deletes and runs the
// batch files of the ipaddress folder. Always 1.
INT_PTR RunIpAddressDialog(HWND owner);

// What the companion tool zelvane.exe is given, kept for the whole run and
// read again from zelvane.ini at every opening of the dialog.
constexpr int kCompanionTextChars = 256;
struct CompanionSettings {
    int32_t idTime;  // ms from the ID to the password
    int32_t pwTime;  // ms from the password to the end
    wchar_t adminId[kCompanionTextChars];
    wchar_t adminPw[kCompanionTextChars];
};
extern CompanionSettings g_companion;

// zelvane.ini of the start-up folder into g_companion (defaults where missing).
void ReadCompanionSettings();
// The six keys: position from the dialog's window, then g_companion.
void WriteCompanionSettings(HWND dialog);
// Refills list box 451 with the batch files (names only).
void ListIpBatchFiles(HWND dialog);
// g_companion and the companion-launch flag to the controls and back.
void ShowCompanionSettings(HWND dialog);
void TakeCompanionSettings(HWND dialog);
// "Change": the selected batch file as administrator, after the companion
// tool when the companion-launch flag is set.
void RunIpBatchFile(HWND dialog);
// "Delete": the selected batch file, without asking.
void DeleteIpBatchFile(HWND dialog);
// Starts a file with the verb "runas"; reports a failure (also a declined
// prompt) in a box owned by `owner`. True when it started.
bool RunAsAdministrator(HWND owner, const wchar_t* fullPath);

// "Add IP Address" (template 18): writes one batch file. Always 1.
INT_PTR RunAddIpDialog(HWND owner);
// "SET": the batch file for the selected adapter and the fields.
void WriteIpBatchFile(HWND dialog);
// Refills list box 451 with the adapters' friendly names, without the
// Wi-Fi Direct virtual adapters and the loopback.
void ListNetworkAdapters(HWND dialog);
