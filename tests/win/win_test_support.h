// Helpers for in-process tests against the real windows under Wine.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/msgbox.h"

namespace testing_support {

// Records every message box and answers it: scripted answers first, then
// OK / YES.
class BoxRecorder {
public:
    struct Box {
        std::wstring text, caption;
        UINT type;
        HWND owner;
    };
    BoxRecorder();
    ~BoxRecorder();
    void Answer(int id);  // queue an answer for the next box
    // Runs an action on the next box instead of answering at once (for
    // actions that must happen while the box is up); returns its result.
    void OnBox(std::function<int(const Box&)> handler);
    std::vector<Box> boxes() const;
    size_t count() const;
    Box last() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
    std::deque<int> answers_;
    std::function<int(const Box&)> handler_;
};

// Opens a modal dialog through `open` and runs `act` on it once it is up.
// Any dialog of this thread still open after `timeoutMs` is closed
// (WM_CLOSE), so a test can never hang on one. Returns what `open` returned.
INT_PTR DriveModal(const std::function<INT_PTR()>& open, const std::function<void(HWND dialog)>& act,
                   int timeoutMs = 5000);

// Several dialogs opened one after the other within `open` (a batch): `act`
// is called once per newly appeared dialog, with its ordinal.
void DriveModals(const std::function<void()>& open, const std::function<void(HWND dialog, int ordinal)>& act,
                 int timeoutMs = 20000);

// Pumps this thread's messages for `ms` milliseconds.
void Pump(int ms);
// Pumps until `done` or the time-out; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

// A fresh empty folder below the system temp folder; removed with its content.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }
    void write(const std::wstring& name, const std::string& bytes) const;

private:
    std::wstring path_;
};

// Recursively deletes a folder.
void RemoveTree(const std::wstring& path);

// Sets the three times of a file or folder from local calendar fields;
// false when it cannot be opened.
bool SetFixedFileTime(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour, WORD minute);

// Reads a whole file (empty when missing).
std::string ReadFileBytes(const std::wstring& path);

// UTF-8 <-> UTF-16 for test texts.
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// A value of Quorbel.ini's section.
std::wstring IniValue(const std::wstring& file, const wchar_t* key);

// Text of a dialog control / window.
std::wstring ControlText(HWND dialog, int id);
std::wstring TextOf(HWND window);

// Simulates a button click on a dialog control.
void Click(HWND dialog, int id);

// The main window as the program creates it, started in `folder` (the
// current directory), with the settings file that the test prepared.
HWND CreateMainWindowIn(const std::wstring& folder, bool commandMode = false);
void DestroyMainWindow(HWND window);

// Writes a minimal settings file that skips the first-start questions.
void WriteConsentedSettings(const std::wstring& folder, const std::wstring& extraLines = L"");

// When QUORBEL_SCREENSHOTS names a folder, saves what the screen shows of
// `window` (with everything on top of it) as <name>.bmp there; `make
// screenshots` turns them into PNGs. Tests named *Screenshot* are run by it.
void SaveScreenshot(HWND window, const std::wstring& name);

}  // namespace testing_support
