#pragma once

#include "platform/headless/headless_built_in_page.h"
#include "platform/headless/headless_desktop.h"
#include "platform/headless/headless_system.h"
#include "platform/headless/headless_web_view.h"
#include "platform/headless/headless_window.h"
#include "platform/platform.h"

namespace tarvik::platform::headless {

// The whole platform without a display, for tests and as the template of a port: one double per
// role (the files of the system double are real files). Destroying the window ends the web view's
// callbacks, as on a real desktop.
//
// Threads: as each role's class says; the window's Post is the only member for other threads.
class HeadlessPlatform {
public:
    HeadlessWindow window;
    HeadlessWebView webView;
    HeadlessBuiltInPage builtInPage;
    HeadlessDesktop desktop;
    HeadlessSystem system;

    HeadlessPlatform() {
        window.whenDestroyed = [this] {
            webView.Close();
            builtInPage.Close();
        };
    }
    HeadlessPlatform(const HeadlessPlatform&) = delete;
    HeadlessPlatform& operator=(const HeadlessPlatform&) = delete;

    platform::Platform Roles() { return {window, webView, builtInPage, desktop, system}; }
};

} // namespace tarvik::platform::headless
