// Dialogs keep what they were opened with in their own window.
#pragma once

#include <windows.h>

template <typename T>
T& DialogState(HWND dialog) {
    return *reinterpret_cast<T*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

template <typename T>
void KeepDialogState(HWND dialog, T* state) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
}
