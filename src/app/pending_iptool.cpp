// Placeholders until the settings dialog, monitors and IP tool land.
#include "dialogs/dialogs.h"
#include "iptool/iptool.h"

INT_PTR RunIpAddressDialog(HWND) { return 1; }
