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

} // namespace tarvik::platform::win32
