// zelvane.exe: the companion of Quorbel's IP address tool. While Windows
// asks for administrator rights to run a batch file, it keeps the
// administrator ID on the clipboard, then the password, then clears the
// clipboard and ends. Its settings come from zelvane.ini next to it.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "core/base/path_rules.h"
#include "core/settings/settings.h"
#include "win/base/win_files.h"
#include "win/base/wintext.h"

namespace {

constexpr wchar_t kClassName[] = L"ZelvaneWindow";
constexpr wchar_t kTitle[] = L"zelvane";
constexpr int kWindowWidth = 340;
constexpr int kWindowHeight = 90;
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 200;
constexpr int kLabelId = 100;
// Clearing waits this long at most for a program that holds the clipboard.
constexpr int kClearTries = 40;
constexpr DWORD kClearRetryMs = 50;

// What zelvane.ini gave (ReadConfig fills every field).
struct Config {
    int x = 0, y = 0;
    int32_t idTime = 0, pwTime = 0;  // milliseconds
    std::wstring id, pw;
};

enum Step { kStepId, kStepPw, kStepDone };

struct State {
    Config config;
    Step step = kStepId;
    bool placed = false;  // this step's text is on the clipboard
    std::wstring onClipboard;  // what this program put there last, until it is cleared
    ULONGLONG stepStart = 0;
    HWND label = nullptr;
};
State g_state;

std::wstring OwnFolder() {
    std::wstring path(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return L".";
    path.resize(n);
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

// zelvane.ini next to this program, through the table the IP tool writes it
// with; the defaults where the folder is too long for the file's path.
Config ReadConfig() {
    quorbel::CompanionSettings values;
    if (const auto file = quorbel::JoinPath(AsU16View(OwnFolder()), quorbel::kCompanionFileName)) {
        WinIniSection ini(ToWide(*file), AsWide(quorbel::kCompanionSection));
        quorbel::LoadCompanionSettings(ini, values);
    }
    Config c;
    c.x = values.x;
    c.y = values.y;
    c.idTime = values.idTime < 0 ? 0 : values.idTime;
    c.pwTime = values.pwTime < 0 ? 0 : values.pwTime;
    c.id = ToWide(values.adminId);
    c.pw = ToWide(values.adminPw);
    return c;
}

HGLOBAL GlobalCopy(const void* data, size_t bytes) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* target = memory ? GlobalLock(memory) : nullptr;
    if (!target) {
        if (memory) GlobalFree(memory);
        return nullptr;
    }
    memcpy(target, data, bytes);
    GlobalUnlock(memory);
    return memory;
}

// Asks clipboard history and clipboard viewers to leave the pair alone: they
// would keep it after this program cleared the clipboard.
void KeepOutOfHistory() {
    const DWORD no = 0;
    for (const wchar_t* format : {L"ExcludeClipboardContentFromMonitorProcessing", L"CanIncludeInClipboardHistory",
                                  L"CanUploadToCloudClipboard"}) {
        HGLOBAL memory = GlobalCopy(&no, sizeof no);
        if (memory && !SetClipboardData(RegisterClipboardFormatW(format), memory)) GlobalFree(memory);
    }
}

bool PutOnClipboard(HWND window, const std::wstring& text) {
    HGLOBAL memory = GlobalCopy(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    if (!memory) return false;
    // Another program may hold the clipboard open for a moment: the next
    // tick tries again.
    if (!OpenClipboard(window)) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    const bool ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    if (ok) {
        KeepOutOfHistory();
        g_state.onClipboard = text;
    } else {
        GlobalFree(memory);
    }
    CloseClipboard();
    return ok;
}

// What the current step keeps on the clipboard, and for how long.
const std::wstring& StepText() { return g_state.step == kStepId ? g_state.config.id : g_state.config.pw; }
ULONGLONG StepPeriod() {
    return static_cast<ULONGLONG>(g_state.step == kStepId ? g_state.config.idTime : g_state.config.pwTime);
}

// Clears the clipboard only while it still holds what this program put
// there (the ID too while the password waits for a busy clipboard), so a
// text the user copied since then survives. A program holding the clipboard
// is waited for, within a bound.
void ClearOwnClipboard(HWND window) {
    if (g_state.onClipboard.empty()) return;
    bool open = false;
    for (int i = 0; i < kClearTries && !(open = OpenClipboard(window) != FALSE); ++i) Sleep(kClearRetryMs);
    if (!open) return;
    bool ours = false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* text = static_cast<const wchar_t*>(GlobalLock(data))) {
            const size_t capacity = GlobalSize(data) / sizeof(wchar_t);
            ours = wcsnlen(text, capacity) < capacity && g_state.onClipboard == text;
            GlobalUnlock(data);
        }
    }
    if (ours) EmptyClipboard();
    CloseClipboard();
    g_state.onClipboard.clear();
    g_state.placed = false;
}

void ShowStep(ULONGLONG now) {
    if (!g_state.placed) {
        SetWindowTextW(g_state.label, L"Waiting for the clipboard...");
        return;
    }
    const ULONGLONG period = StepPeriod(), elapsed = now - g_state.stepStart;
    const unsigned left = elapsed >= period ? 0u : static_cast<unsigned>((period - elapsed + 999) / 1000);
    wchar_t text[128];
    if (g_state.step == kStepId)
        swprintf(text, ARRAYSIZE(text), L"Step 1/2: the ID is on the clipboard.\r\nThe password follows in %u s.", left);
    else
        swprintf(text, ARRAYSIZE(text), L"Step 2/2: the password is on the clipboard.\r\nIt is cleared in %u s.", left);
    SetWindowTextW(g_state.label, text);
}

void Tick(HWND window) {
    const ULONGLONG now = GetTickCount64();
    if (!g_state.placed) {
        if (PutOnClipboard(window, StepText())) {
            g_state.placed = true;
            g_state.stepStart = now;
        }
    }
    if (g_state.placed && now - g_state.stepStart >= StepPeriod()) {
        if (g_state.step == kStepId) {
            g_state.step = kStepPw;
            g_state.placed = false;
            Tick(window);  // the password at once, not one tick later
            return;
        }
        g_state.step = kStepDone;
        DestroyWindow(window);  // which clears the clipboard
        return;
    }
    ShowStep(now);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            g_state.label = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 10, 8,
                                            kWindowWidth - 30, kWindowHeight - 45, window,
                                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLabelId)), nullptr, nullptr);
            SendMessageW(g_state.label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
            SetTimer(window, kTickTimer, kTickMs, nullptr);
            return 0;
        }
        case WM_TIMER:
            if (wParam == kTickTimer && g_state.step != kStepDone) Tick(window);
            return 0;
        case WM_ENDSESSION:
            // The process may end right after this answer, without WM_DESTROY.
            if (wParam) ClearOwnClipboard(window);
            return 0;
        case WM_DESTROY:
            // Every way out passes here, closed early or done: the ID or
            // password must not stay behind.
            KillTimer(window, kTickTimer);
            g_state.step = kStepDone;
            ClearOwnClipboard(window);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// Keeps the window on the screen whatever position the settings give.
POINT PlaceOnScreen(int x, int y) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int right = left + GetSystemMetrics(SM_CXVIRTUALSCREEN) - kWindowWidth;
    const int bottom = top + GetSystemMetrics(SM_CYVIRTUALSCREEN) - kWindowHeight;
    if (x > right) x = right;
    if (y > bottom) y = bottom;
    if (x < left) x = left;
    if (y < top) y = top;
    return {x, y};
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    g_state.config = ReadConfig();

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return 1;

    const POINT at = PlaceOnScreen(g_state.config.x, g_state.config.y);
    // On top, but without taking the focus from the prompt it helps with.
    HWND window = CreateWindowExW(WS_EX_TOPMOST, kClassName, kTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, at.x,
                                  at.y, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    // The ID goes to the clipboard at once, not one tick later.
    SendMessageW(window, WM_TIMER, kTickTimer, 0);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // A clipboard that stayed busy while the window went gets one more try.
    ClearOwnClipboard(nullptr);
    return 0;
}
