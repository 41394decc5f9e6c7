#pragma once

#include "platform/web_view.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/web_view2_interfaces.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvik::platform::win32 {

class HostWindow;

// Whether the system web view can run: a runtime is installed (or named by the vendor, see
// runtime_search.h) and its library loads and offers its entry point. Nothing when it can;
// otherwise what is missing, in words for the user, in English (to be looked up in the user's
// language).
std::optional<std::string> WebViewUnavailable();

// The page inside the host window, on the system web view (WebView2): an environment whose user
// data lives in the user's local application data, one controller filling the window's client
// area, the page's messages through `window.chrome.webview.postMessage` and the host's JSON
// notices through PostWebMessageAsJson, which the page receives as parsed data.
//
// Origin lock: the origin the host's own navigation commits at (after its redirects, read when
// the new document starts loading) is the host's page. Messages are taken only from the top-level
// document (the only one whose messages reach this event) while its source has that origin; a
// top-level navigation to another origin after that is cancelled and handed to the external
// navigation handler, and so is a new window the user asked for (a click); a new window a script
// asks for by itself is refused. Notices reach only a document of that origin.
//
// The runtime's events are copied and acted on from the window's loop (HostWindow::RunFromLoop),
// never inside its handlers, which do not support being called again: every callback to the host
// runs from the loop.
//
// Failures: a creation that fails (no runtime, the runtime refusing, no user data folder) still
// completes Create, and the host's navigation then makes the view again; when that fails too, the
// navigation is reported as a failed load, and the next navigation (the host's "Try again") tries
// again. When the runtime's browser process ends, the view is made again and the host's page
// loaded again; a renderer that ended or hangs has the page loaded again. Permission requests
// are refused without asking.
//
// Threads: user-interface thread only (a single-threaded COM apartment); the runtime calls back
// on it from the message loop. Lifetime: the window's destruction closes the controller, and no
// callback reaches the host after it.
class WebView final : public platform::WebView {
public:
    explicit WebView(HostWindow& window);
    ~WebView() override;
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    void Create(std::function<void()> onReady) override;
    void FitToWindow() override;
    void Navigate(const std::string& url) override;
    void SetMessageHandler(std::function<void(const std::string& text)> onMessage) override;
    void PostJson(const std::string& json) override;
    void SetExternalNavigationHandler(std::function<void(const std::string& url)> onLeave) override;
    // Reports the host's own navigation (told apart by the runtime's navigation number) when
    // it found no page: no connection, a TLS error, no such host, or an HTTP error status (read
    // where the runtime gives it; older runtimes only report a 4xx answer as unsuccessful).
    void SetLoadFailureHandler(std::function<void(const LoadFailure&)> onFailed) override;
    // Before Create: the developer tools (and the browser's menu, which opens them), opened
    // beside the page once its document starts loading. Off, the view offers the page only.
    void ShowInspector(bool on);
    // Hides the page while the built-in page is shown in its place, and shows it again; also
    // before the view exists, which then starts as asked.
    void SetVisible(bool visible);

    // What the runtime's callbacks reach; shared with them so that a late callback after Close
    // finds it closed instead of a destroyed object.
    struct State;

private:
    void Close();

    HostWindow& window_;
    std::shared_ptr<State> state_;
};

} // namespace tarvik::platform::win32
