// The program's entry after the C runtime: the whole run.
#pragma once

// Returns the exit code: WM_QUIT's, or 0 when no main window could be made.
int RunQuorbel(const wchar_t* commandLine, int showCommand);
