// The one way the program shows a message box.
#pragma once

#include <windows.h>

#include <initializer_list>

#include "core/base/texts.h"

// Shows a message box (the build the tests run lets them read and answer it).
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
// A box of the catalogue with its values filled in; `caption` stands in for
// a catalogue entry whose caption is a value.
int ShowBox(HWND owner, const quorbel::BoxText& box, UINT type, std::initializer_list<quorbel::TextArg> values = {},
            const wchar_t* caption = nullptr);

#ifdef QUORBEL_TEST_HOOKS
#include <functional>
#include <string>
// In-process tests answer every box instead of the user, from any thread;
// an empty function removes the hook. A separate Quorbel.exe of the test
// build writes each box to the file QUORBEL_BOX_LOG names, one UTF-8 line
// "caption<TAB>text" (CR and LF as \r and \n), and answers at once: YES/NO
// boxes as QUORBEL_BOX_ANSWERS says ("caption=NO;caption2=YES"), else YES or OK.
using MessageBoxHook =
    std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);
#endif
