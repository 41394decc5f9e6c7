#pragma once

#include "platform/built_in_page.h"
#include "platform/desktop.h"
#include "platform/system.h"
#include "platform/web_view.h"
#include "platform/window.h"

namespace tarvik::platform {

// The roles through which the host reaches its surroundings; each is implemented once per
// platform (platform/gtk/ and platform/posix/ for the desktop, platform/headless/ for tests). The
// owner of the implementations keeps them alive longer than the host.
struct Platform {
    Window& window;
    WebView& webView;
    BuiltInPage& builtInPage;
    Desktop& desktop;
    System& system;
};

} // namespace tarvik::platform
