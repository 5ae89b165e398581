// The one way the program shows a message box. Tests read every box's text
// and caption here and answer it; no box can block a test run.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Shows (or, under a hook, records and answers) a message box.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

// In-process tests install a hook that answers instead of the user. It may
// be called from any thread. An empty function removes the hook.
using MessageBoxHook = std::function<int(HWND owner, const std::wstring& text,
                                         const std::wstring& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);

// For tests that start Quorbel.exe: when QUORBEL_BOX_LOG names a file, every
// box is appended to it as one UTF-8 line "caption<TAB>text" (CR and LF in
// the text written as \r and \n) and answered at once without being shown.
// QUORBEL_BOX_ANSWERS ("caption=NO;caption2=YES") picks the answer of a
// YES/NO box by caption; the default is YES for YES/NO boxes and OK otherwise.
