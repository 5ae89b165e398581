#include "win/panes/panes.h"

#include "core/panes/row_rules.h"
#include "core/base/limits.h"
#include "core/base/path_rules.h"
#include "win/base/msgbox.h"
#include "win/base/win_files.h"
#include "win/base/wintext.h"

namespace {

struct Column {
    const wchar_t* title;
    int width;
};
constexpr Column kColumns[] = {{L"ファイル名", 280}, {L"更新日", 120}, {L"サイズ", 80}};

// The widest text a sort reads from a cell (names, dates and sizes fit).
constexpr int kSortTextChars = 260;

void SetCellText(HWND list, int row, int column, const std::wstring& text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// What the list view's sort hands the comparison: the pane and the column.
struct SortContext {
    Pane* pane;
    int column;
};

std::wstring SortText(HWND list, LPARAM rowParameter, int column) {
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = rowParameter;
    const int row =
        static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
    return row < 0 ? std::wstring() : PaneCellText(list, row, column, kSortTextChars);
}

int CALLBACK ComparePaneRows(LPARAM first, LPARAM second, LPARAM context) {
    const SortContext& c = *reinterpret_cast<const SortContext*>(context);
    const std::wstring a = SortText(c.pane->list, first, c.column), b = SortText(c.pane->list, second, c.column);
    const int result = quorbel::CompareNoCase(AsU16View(a), AsU16View(b));
    return c.pane->sortFlags[c.column] == 1 ? result : -result;
}

}  // namespace

HWND CreatePaneList(HWND parent, int id, HIMAGELIST images) {
    // The image list is shared by both panes and destroyed once, by the window.
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHAREIMAGELISTS, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ProgramInstance(), nullptr);
    const DWORD styles = static_cast<DWORD>(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, styles | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<wchar_t*>(kColumns[i].title);
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    return list;
}

int InsertPaneRow(HWND list, int position, const quorbel::PaneRow& row, LPARAM parameter) {
    std::wstring name = ToWide(row.name);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = position;
    item.pszText = name.data();
    // A negative kind from the peer would ask this window for the image.
    item.iImage = row.image >= 0 ? row.image : I_IMAGENONE;
    item.lParam = parameter;
    const int at = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0) return at;
    SetCellText(list, at, 1, ToWide(row.date));
    SetCellText(list, at, 2, ToWide(row.size));
    return at;
}

void ListLocalFolder(Pane& left, HWND header, quorbel::u16view folder) {
    if (left.list) {
        SendMessageW(left.list, LVM_DELETEALLITEMS, 0, 0);
        WinFolderSource source;
        int position = 0;
        quorbel::CollectFolderRows(source, folder, [&](const quorbel::PaneRow& row) {
            InsertPaneRow(left.list, position, row, position);
            ++position;
            return true;
        });
    }
    SetWindowTextW(header, ToWide(folder).c_str());
}

void SortPane(Pane& pane, int column, HWND owner) {
    if (column < 0 || column > 2) return;
    int32_t& flag = pane.sortFlags[column];
    flag = flag == 1 ? 2 : 1;
    SortContext context{&pane, column};
    if (SendMessageW(pane.list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context),
                     reinterpret_cast<LPARAM>(ComparePaneRows)) != TRUE)
        ShowBox(owner, quorbel::texts::kSortFailed, MB_OK);
}

std::wstring PaneCellText(HWND list, int row, int column, int maxChars) {
    std::wstring text(static_cast<size_t>(maxChars) + 1, L'\0');
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = maxChars + 1;
    const int n = static_cast<int>(SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

int FirstSelectedRow(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void DeselectRow(HWND list, int row) {
    LVITEMW item = {};
    item.stateMask = LVIS_FOCUSED | LVIS_SELECTED | LVIS_DROPHILITED;
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}
