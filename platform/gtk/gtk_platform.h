#pragma once

#include "platform/gtk/built_in_page.h"
#include "platform/gtk/desktop.h"
#include "platform/gtk/host_window.h"
#include "platform/gtk/web_view.h"
#include "platform/platform.h"
#include "platform/posix/posix_system.h"

#include <memory>
#include <string>

namespace tarvik::platform::gtk {

// The real platform: a GTK 3 window with the GLib main loop of the process's main context, a
// WebKitGTK web view inside it, the desktop around it, and the POSIX system. It only owns the
// roles, in the order they must go: the desktop, the web view and the built-in page live in the
// window and go before it.
//
// Threads: as each role's class says; the window's Post is the only member for other threads.
class GtkPlatform {
public:
    GtkPlatform() = default;
    // The window goes first and takes down what lives in it, while all three still exist.
    ~GtkPlatform() { window.Destroy(); }
    GtkPlatform(const GtkPlatform&) = delete;
    GtkPlatform& operator=(const GtkPlatform&) = delete;

    platform::Platform Roles() { return {window, webView, builtInPage, desktop, system}; }

    HostWindow window;
    WebView webView{window};
    BuiltInPage builtInPage{window};
    Desktop desktop{window};
    posix::PosixSystem system;
};

// Starts GTK and makes the platform. On a Wayland session GDK's X11 backend is used (unless
// GDK_BACKEND says otherwise), because the host places its own window, which Wayland does not
// allow. Null, with `error` set, when no display can be opened.
std::unique_ptr<GtkPlatform> CreateGtkPlatform(int* argc, char*** argv, std::string& error);

} // namespace tarvik::platform::gtk
