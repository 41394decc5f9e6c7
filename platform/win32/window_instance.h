#pragma once

#include <windows.h>

namespace tarvik::platform::win32 {

// The object a window procedure serves: handed over as CreateWindowExW's last argument and kept
// in the window's user data from WM_NCCREATE on. Null for the few messages before that, and once
// the object has cleared it.
template <typename T> T* WindowInstance(HWND hwnd, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<T*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// Registers the program's window class `name`, served by `procedure`, with the arrow cursor and
// the window colour; true when it is registered. A class is registered once for the run: each
// caller keeps the answer in a static of its own (`static const bool registered = ...`).
inline bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = name;
    return ::RegisterClassExW(&windowClass) != 0;
}

} // namespace tarvik::platform::win32
