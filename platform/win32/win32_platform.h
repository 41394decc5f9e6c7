#pragma once

#include "common/endpoints.h"
#include "platform/platform.h"
#include "platform/win32/built_in_page.h"
#include "platform/win32/desktop.h"
#include "platform/win32/host_window.h"
#include "platform/win32/web_view.h"
#include "platform/win32/win32_system.h"

namespace tarvik::platform::win32 {

// Makes the calling thread a single-threaded COM apartment for as long as it lives, as the save
// dialog, the shell's calls and the web view require of the user-interface thread.
class ComApartment {
public:
    ComApartment() : initialised_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialised_)
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialised_;
};

// The real platform on Windows. It only owns the roles, in the order they must go: the desktop and
// the web view live in the window and go before it, and COM stays until the last of them is gone.
//
// Threads: made and destroyed on the user-interface thread; as each role's class says otherwise.
class Win32Platform {
public:
    Win32Platform() = default;
    // The window goes first and takes down what lives in it, while all of them still exist.
    ~Win32Platform() { window.Destroy(); }
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    platform::Platform Roles() { return {window, webView, builtInPage, desktop, system}; }

    ComApartment apartment;
    HostWindow window;
    WebView webView{window};
    BuiltInPage builtInPage{window, webView};
    Desktop desktop{window, kInstallerPublisher};
    Win32System system;
};

} // namespace tarvik::platform::win32
