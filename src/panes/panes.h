// The two list panes: local listing, column sort, double-click navigation.
#pragma once

#include <windows.h>

#include <string>

void ListLocalFolder(HWND mainWindow);
// Flips the column's direction flag of that pane and sorts it.
void SortPane(HWND pane, int column);
void OpenLocalRow(HWND mainWindow);
void OpenRemoteRow(HWND mainWindow);
// Empties the right pane, shows the remote path, sets CallDIR and asks the
// peer for the listing of the remote folder path.
void RequestRemoteListing(HWND mainWindow);
// Text of a pane cell, at most maxChars characters (names: 259).
std::wstring PaneCellText(HWND pane, int row, int column, int maxChars);
