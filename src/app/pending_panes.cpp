// Placeholders until the pane listing and navigation land.
#include "app/shell.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "panes/panes.h"

bool ReadHostInfo() { return false; }
INT_PTR RunFolderDialog(HWND) { g_shell.folderName[0] = L'\0'; return 1; }
INT_PTR RunEnvironmentDialog(HWND) { return 1; }
HWND ShowAboutBox(HWND) { return nullptr; }
