#include "app/msgbox.h"

#include <mutex>

namespace {

std::mutex g_hookMutex;
MessageBoxHook g_hook;

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t buf[2048];
    DWORD n = GetEnvironmentVariableW(name, buf, ARRAYSIZE(buf));
    return (n > 0 && n < ARRAYSIZE(buf)) ? std::wstring(buf, n) : std::wstring();
}

int DefaultAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_YESNO:
        case MB_YESNOCANCEL: return IDYES;
        case MB_OKCANCEL: return IDOK;
        case MB_RETRYCANCEL: return IDRETRY;
        default: return IDOK;
    }
}

// Answer of a YES/NO box in QUORBEL_BOX_ANSWERS ("caption=NO;...").
int ScriptedAnswer(const std::wstring& caption, UINT type) {
    std::wstring answers = Environment(L"QUORBEL_BOX_ANSWERS");
    size_t pos = 0;
    while (pos < answers.size()) {
        size_t end = answers.find(L';', pos);
        if (end == std::wstring::npos) end = answers.size();
        std::wstring item = answers.substr(pos, end - pos);
        size_t eq = item.find(L'=');
        if (eq != std::wstring::npos && item.substr(0, eq) == caption) {
            std::wstring value = item.substr(eq + 1);
            if (value == L"NO") return IDNO;
            if (value == L"YES") return IDYES;
            if (value == L"CANCEL") return IDCANCEL;
            return IDOK;
        }
        pos = end + 1;
    }
    return DefaultAnswer(type);
}

bool LogBox(const std::wstring& text, const std::wstring& caption) {
    std::wstring path = Environment(L"QUORBEL_BOX_LOG");
    if (path.empty()) return false;
    std::wstring line = caption + L"\t";
    for (wchar_t c : text) {
        if (c == L'\r') line += L"\\r";
        else if (c == L'\n') line += L"\\n";
        else line += c;
    }
    line += L"\n";
    std::string bytes = ToUtf8(line);
    std::lock_guard<std::mutex> lock(g_hookMutex);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    return true;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    std::wstring t = text ? text : L"";
    std::wstring c = caption ? caption : L"";
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook) return hook(owner, t, c, type);
    if (LogBox(t, c)) return ScriptedAnswer(c, type);
    return MessageBoxW(owner, text, caption, type);
}
