#pragma once

#include "common/start_failure.h"

#include <functional>
#include <string>

namespace tarvik::platform {

// Why the host's own page could not be shown. Neither a status nor a certificate problem: no
// connection (no such host, refused, dropped, timed out).
struct LoadFailure {
    // The HTTP error status the page was answered with (400 and above); 0 without an answer.
    int httpStatus = 0;
    CertificateProblem certificate = CertificateProblem::None;
    bool operator==(const LoadFailure&) const = default;
};

// The embedded web view that fills the host window's client area, and the page bridge.
//
// Threads: user-interface thread only; every callback runs there.
//
// Page messages are accepted only from the top-level document while it shows the origin the
// host's own navigation ended at (after its redirects); messages from frames, from other sites
// the page led to, or forged by other scripts never reach the handler.
class WebView {
public:
    virtual ~WebView() = default;

    // Starts making the web view inside the window (after Window::Create). It completes later,
    // from the message loop, by calling `onReady`.
    virtual void Create(std::function<void()> onReady) = 0;
    // A hint, after Create: the page will most likely come from `url`'s origin (http or https),
    // so the view may open its connection there ahead of the navigation. It loads nothing and
    // leaves nothing the page could see; a host without the means ignores it.
    virtual void WarmUp(const std::string& url) { static_cast<void>(url); }
    // Keeps the web view the size of the client area (after WM_SIZE).
    virtual void FitToWindow() = 0;
    // Loads `url` (UTF-8); an empty or unparsable address loads nothing.
    virtual void Navigate(const std::string& url) = 0;
    // `onMessage` gets each accepted message's UTF-8 text, whole (embedded zero bytes included);
    // empty text for a message that was not a string.
    virtual void SetMessageHandler(std::function<void(const std::string& text)> onMessage) = 0;
    // Delivers a JSON text to the page's message listeners as a parsed object, as data: it is
    // never spliced into script source.
    virtual void PostJson(const std::string& json) = 0;
    // The window stays the host's page: once the page the host navigated to has been committed
    // (its own redirects on the way are allowed), a top-level navigation to another origin and
    // every request for a new window are not carried out in the view; their target address goes
    // to `onLeave` instead, which decides what the desktop does with it.
    virtual void
    SetExternalNavigationHandler(std::function<void(const std::string& url)> onLeave) = 0;
    // `onFailed` is called, with the reason, when the main document of the host's own navigation
    // cannot be loaded (no connection, a refused certificate, no such host) or is answered with an
    // HTTP error status (400 and above). Frames, sub-resources and the page's own later
    // navigations do not count.
    virtual void SetLoadFailureHandler(std::function<void(const LoadFailure&)> onFailed) = 0;
};

} // namespace tarvik::platform
