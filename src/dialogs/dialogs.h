// The program's dialogs. Modal ones return their fixed result codes; their
// decisions go back through the program state.
#pragma once

#include <windows.h>

// ID/PW dialog: mode 0 first registration, 1 login, 2 registration.
// 0 after OK, 1 when closed without OK.
constexpr int kIdPwFirstRegistration = 0;
constexpr int kIdPwLogin = 1;
constexpr int kIdPwRegistration = 2;
INT_PTR RunIdPwDialog(HWND owner, int mode);

// Copy dialog for the row in the copy item name; position in the batch.
INT_PTR RunCopyDialog(HWND owner, int batchPosition);
// Folder-creation dialog; the accepted name (or nothing) in the folder-name buffer.
INT_PTR RunFolderDialog(HWND owner);
// Connection settings: 201 OK, 202 cancel, 1 closed.
INT_PTR RunConnectionSettingsDialog(HWND owner);
// Environment settings (monitor recording).
INT_PTR RunEnvironmentDialog(HWND owner);
// Modeless windows owned by the main window.
HWND ShowAboutBox(HWND owner);
enum MonitorKind { kMonitorReceived = 0, kMonitorSent = 1, kMonitorDirectoryTable = 2 };
HWND OpenMonitorWindow(HWND owner, MonitorKind kind);
// The progress notice while the Client resolves (1) or connects (2).
HWND ShowProgressNotice(HWND owner, int mode);
void CloseProgressNotice();
