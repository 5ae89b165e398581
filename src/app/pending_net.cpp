// Placeholder until the copy dialog lands.
#include "dialogs/dialogs.h"

INT_PTR RunCopyDialog(HWND, int) { return 1; }
