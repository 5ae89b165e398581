// What the Windows tests share: boxes answered and recorded, rows and the status bar read back, bounded
// waits that keep the window thread serving, modal dialogs driven from a timer, a main window of its own.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include "win/app/app.h"
#include "win/res/resource.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

// The tests' own sockets.
inline const int kWinsockStarted = [] { WSADATA data; return WSAStartup(MAKEWORD(2, 2), &data); }();

// Every box while it lives: recorded, then answered by `answer` (on the box's own thread) or OK / YES.
struct Boxes {
    struct Box { std::wstring text, caption; HWND owner; UINT type; };
    Boxes() {
        SetMessageBoxHook([this](HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
            { std::lock_guard<std::mutex> guard(lock); all.push_back({text, caption, owner, type}); }
            return answer ? answer({text, caption, owner, type}) : (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
        });
    }
    ~Boxes() { SetMessageBoxHook(nullptr); }
    std::vector<Box> All() { std::lock_guard<std::mutex> guard(lock); return all; }
    std::function<int(const Box&)> answer;  // set before the boxes come
    std::mutex lock;
    std::vector<Box> all;
};

struct Row { std::wstring name, date, size; int image; LPARAM param; };
inline std::vector<Row> Rows(HWND list) {
    std::vector<Row> rows;
    for (int i = 0; i < SendMessageW(list, LVM_GETITEMCOUNT, 0, 0); ++i) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE | LVIF_PARAM, item.iItem = i;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back({PaneCellText(list, i, 0, 259), PaneCellText(list, i, 1, 63), PaneCellText(list, i, 2, 63),
                        item.iImage, item.lParam});
    }
    return rows;
}
inline std::vector<std::wstring> Names(HWND list) {
    std::vector<std::wstring> names;
    for (const Row& row : Rows(list)) names.push_back(row.name);
    return names;
}
inline int RowOf(HWND list, const std::wstring& name) {  // -1 when not shown
    const auto names = Names(list);
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}
inline std::wstring StatusPart(HWND bar, int part) {
    wchar_t text[256] = {};
    return SendMessageW(bar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text)), text;
}
inline std::wstring Text(HWND window) { return WindowText(window, 1023); }

// Serves this thread's messages until `done` or `ms` ran out; done().
inline bool PumpUntil(const std::function<bool()>& done, DWORD ms = 10000) {
    for (const DWORD start = GetTickCount(); !done(); MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT)) {
        if (GetTickCount() - start > ms) return done();
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
            if (msg.message != WM_QUIT) DispatchMessageW(&msg);
    }
    return true;
}

// Runs `open`, which shows modal dialogs, and calls `act` on each new enabled dialog of this thread, with its
// ordinal; what is still open after `ms` gets WM_CLOSE, so no test waits on a dialog for ever. An `act` that
// opens a further dialog sees the ticks go on inside that one's loop.
inline void DriveDialogs(const std::function<void()>& open, const std::function<void(HWND, int)>& act,
                         DWORD ms = 20000) {
    static struct Watch { std::function<void(HWND, int)> act; DWORD end; std::vector<HWND> seen; } * watching;
    Watch watch{act, GetTickCount() + ms, {}};
    watching = &watch;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        EnumThreadWindows(GetCurrentThreadId(), [](HWND d, LPARAM) {
            wchar_t name[16] = {};
            if (!GetClassNameW(d, name, 16) || wcscmp(name, L"#32770") || !IsWindowVisible(d) || !IsWindowEnabled(d))
                return TRUE;
            if (GetTickCount() > watching->end) return PostMessageW(d, WM_CLOSE, 0, 0);
            if (std::find(watching->seen.begin(), watching->seen.end(), d) != watching->seen.end()) return TRUE;
            watching->seen.push_back(d);
            watching->act(d, static_cast<int>(watching->seen.size()) - 1);
            return FALSE;
        }, 0);
    });
    open();
    KillTimer(nullptr, timer);
}
inline void Click(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// A fresh folder of the temp folder, removed with its content (but never while it is the current one).
struct Folder {
    explicit Folder(const std::wstring& name)
        : path(std::filesystem::temp_directory_path() / (name + std::to_wstring(GetCurrentProcessId()))) {
        std::filesystem::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
        std::filesystem::remove_all(path, ignored);
    }
    std::wstring path;
};
inline void WriteBytes(const std::wstring& to, std::string b) { std::ofstream(to.c_str(), std::ios::binary) << b; }
inline std::string ReadBytes(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}
inline std::wstring IniText(const std::wstring& in, const wchar_t* key) {  // a key of `in`\Quorbel.ini
    wchar_t value[4096] = {};
    return GetPrivateProfileStringW(L"Quorbel_setting", key, L"", value, 4096, (in + L"\\Quorbel.ini").c_str()), value;
}

// A main window started in `folder` (as by "/CMD" unless not `command`); its Quorbel.ini skips the first start's
// questions (a pair of the user's own), aims a Client at this PC and holds `ini`. It connects only when asked; dropping it ends the window.
using IniValues = std::initializer_list<std::pair<const wchar_t*, std::wstring>>;
inline std::shared_ptr<App> OpenMainWindow(const std::wstring& folder, IniValues ini = {}, bool command = true) {
    const std::wstring file = folder + L"\\Quorbel.ini";
    for (IniValues values : {IniValues{{L"doui_mode", L"1"}, {L"pair_proposed", L"0"}, {L"currentdirectory_r", folder},
                                       {L"ip_no1", L"127"}, {L"ip_no2", L"0"}, {L"ip_no3", L"0"}, {L"ip_no4", L"1"}},
                             ini})
        for (const auto& [key, value] : values)
            WritePrivateProfileStringW(L"Quorbel_setting", key, value.c_str(), file.c_str());
    SetCurrentDirectoryW(folder.c_str());
    std::shared_ptr<App> app(new App(folder, command), [](App* a) {
        if (a->window) DestroyWindow(a->window);
        for (MSG quit; PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);) {  // or the next dialog ends at once
        }
        delete a;
    });
    if (!CreateMainWindow(*app)) return nullptr;
    KillTimer(app->window, kAutoConnectTimer);
    ShowWindow(app->window, SW_SHOW);
    return app;
}
inline void Notify(App& app, int pane, UINT code, int column = 0) {
    NMLISTVIEW note = {};
    note.hdr = {pane == IDC_LEFT_PANE ? app.left.list : app.right.list, UINT_PTR(pane), code};
    note.iItem = -1, note.iSubItem = column;
    SendMessageW(app.window, WM_NOTIFY, pane, reinterpret_cast<LPARAM>(&note));
}
inline void SelectRows(HWND list, std::initializer_list<int> rows) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(&item));
    item.state = LVIS_SELECTED;
    for (int row : rows) SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}
