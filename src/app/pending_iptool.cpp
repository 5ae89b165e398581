// Placeholders until the settings dialog, monitors and IP tool land.
#include "dialogs/dialogs.h"
#include "iptool/iptool.h"

HWND OpenMonitorWindow(HWND, MonitorKind) { return nullptr; }
INT_PTR RunIpAddressDialog(HWND) { return 1; }
