// The two list panes: local listing, column sort, double-click navigation.
#pragma once

#include <windows.h>

void ListLocalFolder(HWND mainWindow);
// Flips the column's direction flag of that pane and sorts it.
void SortPane(HWND pane, int column);
void OpenLocalRow(HWND mainWindow);
void OpenRemoteRow(HWND mainWindow);
// Empties the right pane, shows the remote path, sets CallDIR and asks the
// peer for the listing of the remote folder path.
void RequestRemoteListing(HWND mainWindow);
// Column-0 text of a pane row (at most 259 characters).
void PaneRowName(HWND pane, int row, wchar_t (&name)[260]);
