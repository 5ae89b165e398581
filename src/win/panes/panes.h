// The two list panes: one pane type used twice, fed by the local folder or
// by the peer's records, so rows, sorting and navigation exist once.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>

#include "core/panes/folder_rows.h"
#include "core/protocol/protocol.h"

// One pane: its list view and the sort direction of each column (1 up, 2
// down, 0 never clicked; a new pane sorts its names descending first).
struct Pane {
    HWND list = nullptr;
    int32_t sortFlags[3] = {1, 0, 0};
};

// A report-style list view with grid lines, full-row selection, the shared
// image list (not destroyed with it) and the three columns.
HWND CreatePaneList(HWND parent, int id, HIMAGELIST images);

// Inserts a row at `position`: name, image and row parameter, then the date
// and size columns. The row the list gave, or -1.
int InsertPaneRow(HWND list, int position, const quorbel::PaneRow& row, LPARAM parameter);

// Empties the left pane and lists `folder` into it, then shows the folder
// in the header.
void ListLocalFolder(Pane& left, HWND header, quorbel::u16view folder);

// Flips the column's direction and sorts the pane by its text ("ソート失敗。"
// on the owner when the list refuses).
void SortPane(Pane& pane, int column, HWND owner);

// The text of a cell, at most maxChars characters.
std::wstring PaneCellText(HWND list, int row, int column, int maxChars);
int FirstSelectedRow(HWND list);
// Clears the row's focus, selection and drop highlight.
void DeselectRow(HWND list, int row);

// Double-clicks: the left pane lists its new folder at once, the right
// pane asks the peer.
void OpenLocalRow(HWND owner, Pane& left, HWND header, quorbel::u16& localPath, bool parent = false);
void OpenRemoteRow(HWND owner, Pane& right, HWND header, quorbel::Protocol& protocol, bool parent = false);

// The one step that asks the peer for a listing: the right pane emptied,
// CallDIR, "DD" with `folder` (the remote folder again without one), and
// the folder in the header. A folder whose request cannot fit changes
// nothing and gives kRequestTooLong.
int RequestRemoteListing(HWND header, quorbel::Protocol& protocol,
                         std::optional<quorbel::u16view> folder = std::nullopt);
