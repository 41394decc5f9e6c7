#include "platform/gtk/gtk_platform.h"

#include "platform/gtk/built_in_page.h"
#include "platform/gtk/colour_scheme.h"
#include "platform/gtk/sandbox_probe.h"

#include <gtk/gtk.h>

#include <cstdlib>

namespace tarvik::platform::gtk {

std::unique_ptr<GtkPlatform> CreateGtkPlatform(int* argc, char*** argv, std::string& error) {
    // Placing the window (off-screen start, centring, dragging) needs a window system that lets
    // a program place its windows; the user may still choose a backend explicitly.
    const char* backend = std::getenv("GDK_BACKEND");
    if (!backend || !*backend)
        gdk_set_allowed_backends("x11");
    // The web view needs the sandbox's answer before its first process starts; asked now, the
    // answer comes while the display opens instead of after it.
    StartSandboxProbe();
    if (!gtk_init_check(argc, argv)) {
        const char* display = std::getenv("DISPLAY");
        error =
            std::string("cannot open the X display") +
            (display && *display ? std::string(" \"") + display + "\"" : " (DISPLAY is not set)");
        return nullptr;
    }
    // Light or dark, decided once for both views from everything the desktop says.
    ApplyColourScheme(DecideDark(ReadColourSchemeInputs()));
    return std::make_unique<GtkPlatform>();
}

} // namespace tarvik::platform::gtk
