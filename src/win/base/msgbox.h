// The one way the program shows a message box.
#pragma once

#include <windows.h>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>

#include "core/base/catalogue.h"

// Shows a message box (the build the tests run lets them read and answer it).
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
// A box of the catalogue with its values filled in; `caption` stands in for
// a catalogue entry whose caption is a value.
int ShowBox(HWND owner, const quorbel::BoxText& box, UINT type, std::initializer_list<quorbel::TextArg> values = {},
            const wchar_t* caption = nullptr);

// A box of one kind without owner, on a thread of its own, for a caller
// that must not wait for the user (a receive thread): a peer that sends
// junk must not hold this side with box after box, so none is shown while
// the last one is still on the screen.
class DetachedBox {
public:
    void Show(std::wstring text, std::wstring caption);

private:
    // Shared with the box's thread, which may outlive its owner.
    std::shared_ptr<std::atomic<bool>> shown_ = std::make_shared<std::atomic<bool>>(false);
};

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
