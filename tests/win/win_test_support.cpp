#include "win_test_support.h"

#include <commctrl.h>

#include <cstdio>

#include "app/settings.h"
#include "app/shell.h"

namespace testing_support {

BoxRecorder::BoxRecorder() {
    SetMessageBoxHook([this](HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
        std::function<int(const Box&)> handler;
        Box box{text, caption, type, owner};
        int answer = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            boxes_.push_back(box);
            if (handler_) {
                handler = std::move(handler_);
                handler_ = nullptr;
            } else if (!answers_.empty()) {
                answer = answers_.front();
                answers_.pop_front();
            }
        }
        if (handler) return handler(box);
        if (answer) return answer;
        return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    });
}

BoxRecorder::~BoxRecorder() { SetMessageBoxHook(nullptr); }

void BoxRecorder::Answer(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(id);
}

void BoxRecorder::OnBox(std::function<int(const Box&)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<BoxRecorder::Box> BoxRecorder::boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

size_t BoxRecorder::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_.size();
}

BoxRecorder::Box BoxRecorder::last() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_.empty() ? Box{} : boxes_.back();
}

void BoxRecorder::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.clear();
    answers_.clear();
}

namespace {

struct ModalWatch {
    std::function<void(HWND, int)> act;
    std::vector<HWND> seen;
    DWORD deadline;
    DWORD thread;
};
ModalWatch* g_watch;

BOOL CALLBACK CollectDialogs(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<std::vector<HWND>*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, ARRAYSIZE(cls));
    if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window)) found->push_back(window);
    return TRUE;
}

void CALLBACK WatchTick(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_watch) return;
    std::vector<HWND> dialogs;
    EnumThreadWindows(g_watch->thread, CollectDialogs, reinterpret_cast<LPARAM>(&dialogs));
    if (GetTickCount() > g_watch->deadline) {
        for (HWND d : dialogs) PostMessageW(d, WM_CLOSE, 0, 0);
        return;
    }
    for (HWND d : dialogs) {
        bool known = false;
        for (HWND s : g_watch->seen) known = known || s == d;
        if (known || !IsWindowEnabled(d)) continue;
        g_watch->seen.push_back(d);
        g_watch->act(d, static_cast<int>(g_watch->seen.size()) - 1);
        return;
    }
}

}  // namespace

void DriveModals(const std::function<void()>& open, const std::function<void(HWND, int)>& act, int timeoutMs) {
    ModalWatch watch{act, {}, GetTickCount() + static_cast<DWORD>(timeoutMs), GetCurrentThreadId()};
    ModalWatch* previous = g_watch;
    g_watch = &watch;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, WatchTick);
    open();
    KillTimer(nullptr, timer);
    g_watch = previous;
}

INT_PTR DriveModal(const std::function<INT_PTR()>& open, const std::function<void(HWND)>& act, int timeoutMs) {
    INT_PTR result = 0;
    DriveModals([&] { result = open(); }, [&](HWND dialog, int ordinal) { if (ordinal == 0) act(dialog); },
                timeoutMs);
    return result;
}

void Pump(int ms) {
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    PumpUntil([&] { return GetTickCount() >= end; }, ms + 1000);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (!done()) {
        if (GetTickCount() >= end) return done();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // a destroyed main window posts it
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

TempFolder::TempFolder() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    static int counter;
    wchar_t name[MAX_PATH];
    swprintf(name, MAX_PATH, L"%lsqb_%lu_%d", base, GetCurrentProcessId(), ++counter);
    RemoveTree(name);
    CreateDirectoryW(name, nullptr);
    path_ = name;
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void TempFolder::write(const std::wstring& name, const std::string& bytes) const {
    HANDLE f = CreateFileW(file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
            else DeleteFileW(full.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

bool SetFixedFileTime(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    SYSTEMTIME local = {};
    local.wYear = year;
    local.wMonth = month;
    local.wDay = day;
    local.wHour = hour;
    local.wMinute = minute;
    FILETIME localTime, utc;
    SystemTimeToFileTime(&local, &localTime);
    LocalFileTimeToFileTime(&localTime, &utc);
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    SetFileTime(f, &utc, &utc, &utc);
    CloseHandle(f);
    return true;
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    CloseHandle(f);
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring IniValue(const std::wstring& file, const wchar_t* key) {
    wchar_t buf[4096] = {};
    GetPrivateProfileStringW(L"Quorbel_setting", key, L"<missing>", buf, ARRAYSIZE(buf), file.c_str());
    return buf;
}

std::wstring ControlText(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

std::wstring TextOf(HWND window) {
    wchar_t buf[1024] = {};
    GetWindowTextW(window, buf, ARRAYSIZE(buf));
    return buf;
}

void Click(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

HWND CreateMainWindowIn(const std::wstring& folder, bool commandMode) {
    SetCurrentDirectoryW(folder.c_str());
    ResetShellState();
    g_shell.instance = GetModuleHandleW(nullptr);
    g_shell.commandMode = commandMode ? 1 : 0;
    RegisterMainWindowClass(g_shell.instance);
    HWND window = CreateMainWindow(g_shell.instance);
    if (window && IsWindow(window)) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        return window;
    }
    return nullptr;
}

void DestroyMainWindow(HWND window) {
    if (window && IsWindow(window)) DestroyWindow(window);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

void WriteConsentedSettings(const std::wstring& folder, const std::wstring& extraLines) {
    std::wstring text = L"[Quorbel_setting]\r\ndoui_mode=1\r\ncurrentdirectory_r=" + folder + L"\r\n" + extraLines;
    std::string bytes = Narrow(text);
    HANDLE f = CreateFileW((folder + L"\\Quorbel.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

void SaveScreenshot(HWND window, const std::wstring& name) {
    wchar_t folder[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"QUORBEL_SCREENSHOTS", folder, MAX_PATH)) return;
    Pump(300);  // let everything paint
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
    DWORD imageSize = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
    bytes.append(static_cast<const char*>(bits), imageSize);
    std::wstring path = std::wstring(folder) + L"\\" + name + L".bmp";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace testing_support
