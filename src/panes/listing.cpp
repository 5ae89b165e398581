// The left pane's listing of the local folder, and the column sort of both
// panes. Row texts and images come from the shared row rules, so both panes
// look alike.
#include <windows.h>
#include <commctrl.h>

#include <optional>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/format_rules.h"
#include "core/path_rules.h"
#include "panes/panes.h"

namespace {

// Widest text a sort reads from a row (names, dates and sizes all fit).
constexpr int kSortTextChars = 260;

int InsertRow(HWND pane, int position, const wchar_t* name, int image) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = position;
    item.pszText = const_cast<wchar_t*>(name);
    item.iImage = image;
    item.lParam = position;
    return static_cast<int>(SendMessageW(pane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void SetRowText(HWND pane, int row, int column, const wchar_t* text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(pane, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// "2024/03/05 09:07" in local time; empty for a time the system cannot convert.
std::wstring DateText(const FILETIME& lastWrite) {
    FILETIME local;
    SYSTEMTIME fields;
    if (!FileTimeToLocalFileTime(&lastWrite, &local) || !FileTimeToSystemTime(&local, &fields)) return {};
    quorbel::LocalTimeFields t;
    t.year = fields.wYear;
    t.month = fields.wMonth;
    t.day = fields.wDay;
    t.hour = fields.wHour;
    t.minute = fields.wMinute;
    return ToWide(quorbel::FormatDateText(t));
}

// Space the entry takes on disk; empty when its path does not fit a path
// buffer or the system cannot tell.
std::wstring SizeOnDiskText(const wchar_t* folder, const wchar_t* name) {
    std::optional<quorbel::u16> path = quorbel::JoinEntryPath(AsU16View(folder), AsU16View(name));
    if (!path) return {};
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetCompressedFileSizeW(AsWide(path->c_str()), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return {};
    return ToWide(quorbel::FormatSizeText((static_cast<uint64_t>(high) << 32) | low));
}

// Rows for the other drives, only at a drive root; returns the next position.
int InsertDriveRows(HWND pane, const wchar_t* folder) {
    int position = 0;
    if (!quorbel::IsDriveRoot(AsU16View(folder))) return position;
    for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
        const wchar_t root[4] = {letter, L':', L'\\', L'\0'};
        int image = quorbel::DriveImageIndex(static_cast<int>(GetDriveTypeW(root)));
        if (image < 0 || quorbel::CompareNoCase(AsU16View(root), AsU16View(folder)) == 0) continue;
        InsertRow(pane, position, root, image);
        ++position;
    }
    return position;
}

void InsertFolderEntries(HWND pane, const wchar_t* folder, int position) {
    std::optional<quorbel::u16> pattern = quorbel::ListingPattern(AsU16View(folder));
    if (!pattern) return;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(AsWide(pattern->c_str()), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const wchar_t* name = entry.cFileName;
        const uint32_t attributes = entry.dwFileAttributes;
        int row = InsertRow(pane, position, name, quorbel::RowImageIndex(attributes, AsU16View(name)));
        if (row >= 0) {
            SetRowText(pane, row, 1, DateText(entry.ftLastWriteTime).c_str());
            if (!quorbel::SizeTextIsEmpty(attributes, AsU16View(name)))
                SetRowText(pane, row, 2, SizeOnDiskText(folder, name).c_str());
        }
        ++position;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

int PaneIndex(HWND pane) {
    if (pane && pane == g_shell.leftPane) return 0;
    if (pane && pane == g_shell.rightPane) return 1;
    return -1;
}

std::wstring SortText(HWND pane, LPARAM rowParameter, int column) {
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = rowParameter;
    int row = static_cast<int>(SendMessageW(pane, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(&find)));
    if (row < 0) return {};
    wchar_t text[kSortTextChars + 1] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = ARRAYSIZE(text);
    SendMessageW(pane, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

int CompareRows(int paneIndex, LPARAM first, LPARAM second, LPARAM column) {
    HWND pane = paneIndex == 0 ? g_shell.leftPane : g_shell.rightPane;
    const int c = static_cast<int>(column);
    std::wstring a = SortText(pane, first, c), b = SortText(pane, second, c);
    int result = quorbel::CompareNoCase(AsU16View(a.c_str()), AsU16View(b.c_str()));
    return g_shell.sortFlags[paneIndex][c] == 1 ? result : -result;
}

// The list view's sort passes no pane, so each pane has its own comparison.
template <int kPaneIndex>
int CALLBACK ComparePaneRows(LPARAM first, LPARAM second, LPARAM column) {
    return CompareRows(kPaneIndex, first, second, column);
}

}  // namespace

void ListLocalFolder(HWND) {
    HWND pane = g_shell.leftPane;
    const wchar_t* folder = g_shell.localPath;
    if (pane) {
        SendMessageW(pane, LVM_DELETEALLITEMS, 0, 0);
        int position = InsertDriveRows(pane, folder);
        InsertFolderEntries(pane, folder, position);
    }
    SetHeaderText(g_shell.localHeader, folder);
}

void SortPane(HWND pane, int column) {
    const int index = PaneIndex(pane);
    if (index < 0 || column < 0 || column > 2) return;
    int32_t& flag = g_shell.sortFlags[index][column];
    flag = flag == 1 ? 2 : 1;
    PFNLVCOMPARE compare = index == 0 ? ComparePaneRows<0> : ComparePaneRows<1>;
    if (SendMessageW(pane, LVM_SORTITEMS, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(compare)) != TRUE)
        ShowMessageBox(g_shell.mainWindow, L"ソート失敗。", L"Error", MB_OK);
}

std::wstring PaneCellText(HWND pane, int row, int column, int maxChars) {
    std::wstring text(static_cast<size_t>(maxChars) + 1, L'\0');
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = maxChars + 1;
    int n = static_cast<int>(SendMessageW(pane, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}
