#include "win/base/msgbox.h"

#include <string>

#include "win/base/wintext.h"

#ifdef QUORBEL_TEST_HOOKS
#include <mutex>

namespace {

std::mutex g_hookMutex;
MessageBoxHook g_hook;

std::wstring Environment(const wchar_t* name) {
    wchar_t buf[2048];
    const DWORD n = GetEnvironmentVariableW(name, buf, ARRAYSIZE(buf));
    return (n > 0 && n < ARRAYSIZE(buf)) ? std::wstring(buf, n) : std::wstring();
}

// The answer QUORBEL_BOX_ANSWERS gives a box ("caption=NO;..."), else YES or OK.
int ScriptedAnswer(const std::wstring& caption, UINT type) {
    const std::wstring answers = Environment(L"QUORBEL_BOX_ANSWERS");
    for (size_t pos = 0; pos < answers.size();) {
        size_t end = answers.find(L';', pos);
        if (end == std::wstring::npos) end = answers.size();
        const std::wstring item = answers.substr(pos, end - pos);
        if (item.rfind(caption + L"=", 0) == 0) return item.substr(caption.size() + 1) == L"NO" ? IDNO : IDYES;
        pos = end + 1;
    }
    return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

// Appends the box to QUORBEL_BOX_LOG; false when no log is asked for.
bool LogBox(const std::wstring& text, const std::wstring& caption) {
    const std::wstring path = Environment(L"QUORBEL_BOX_LOG");
    if (path.empty()) return false;
    std::wstring line = caption + L"\t";
    for (wchar_t c : text) line += c == L'\r' ? L"\\r" : c == L'\n' ? L"\\n" : std::wstring(1, c);
    line += L"\n";
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
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
#endif

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
#ifdef QUORBEL_TEST_HOOKS
    const std::wstring t = text ? text : L"", c = caption ? caption : L"";
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook) return hook(owner, t, c, type);
    if (LogBox(t, c)) return ScriptedAnswer(c, type);
#endif
    return MessageBoxW(owner, text, caption, type);
}

int ShowBox(HWND owner, const quorbel::BoxText& box, UINT type, std::initializer_list<quorbel::TextArg> values,
            const wchar_t* caption) {
    const std::wstring text = ToWide(quorbel::FormatText(box.text, values));
    return ShowMessageBox(owner, text.c_str(), caption ? caption : AsWide(box.caption), type);
}

namespace {

struct DetachedJob {
    std::wstring text, caption;
    std::shared_ptr<std::atomic<bool>> shown;
};

DWORD WINAPI RunDetachedBox(LPVOID parameter) {
    std::unique_ptr<DetachedJob> job(static_cast<DetachedJob*>(parameter));
    ShowMessageBox(nullptr, job->text.c_str(), job->caption.c_str(), MB_OK);
    job->shown->store(false);
    return 0;
}

}  // namespace

void DetachedBox::Show(std::wstring text, std::wstring caption) {
    if (shown_->exchange(true)) return;
    auto job = std::make_unique<DetachedJob>(DetachedJob{std::move(text), std::move(caption), shown_});
    HANDLE thread = CreateThread(nullptr, 0, RunDetachedBox, job.get(), 0, nullptr);
    if (!thread) {
        shown_->store(false);
        return;
    }
    job.release();  // the thread's now
    CloseHandle(thread);
}
