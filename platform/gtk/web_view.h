#pragma once

#include "platform/gtk/gobject_ptr.h"
#include "platform/page_confinement.h"
#include "platform/web_view.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <optional>
#include <string>

namespace tarvik::platform::gtk {

class HostWindow;

// The WebKitGTK web view that fills the host window, with the page bridge. User-interface thread
// only.
//
// Page messages are accepted only when they carry this run's token, which only the bridge script
// injected into the top frame knows, and only while the top-level document that was last
// committed has the origin the host's own navigation ended at (after its redirects). Everything
// else is dropped without a trace: a frame of another site, or another site the page led to.
//
// The view lives in `window` and goes when the window is destroyed; `window` must outlive it.
class WebView final : public platform::WebView {
public:
    // Its name in the window's content stack.
    static constexpr char kStackName[] = "page";

    explicit WebView(HostWindow& window);
    ~WebView() override;
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // The native view; null before Create and after the window is destroyed.
    WebKitWebView* Widget() const { return view_; }

    void Create(std::function<void()> onReady) override;
    void FitToWindow() override;
    // Runs a script in the view's initial empty document that asks WebKit to preconnect to the
    // origin: WebKit then resolves the name and opens the TCP and TLS connection in the network
    // process the page's request uses (a web process of the view runs the script). The
    // initial document is replaced by the first navigation without a history entry, so the page
    // sees nothing of it; after a navigation has begun, nothing is done.
    void WarmUp(const std::string& url) override;
    // An empty or unparsable address loads nothing and changes nothing.
    void Navigate(const std::string& uri) override;
    void SetMessageHandler(std::function<void(const std::string& text)> onMessage) override;
    void PostJson(const std::string& json) override;
    void SetExternalNavigationHandler(std::function<void(const std::string& url)> onLeave) override;
    void SetLoadFailureHandler(std::function<void(const LoadFailure&)> onFailed) override;
    // Before Create: WebKit's developer extras, and the inspector opened beside the page once it
    // is committed, so that a vendor can read the page's console and step through the bridge.
    // The context menu then keeps "Inspect Element" as well.
    void ShowInspector(bool on) { inspect_ = on; }

private:
    static gboolean OnReadyIdle(gpointer self);
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self);
    static gboolean OnLoadFailedWithTlsErrors(WebKitWebView*, gchar* uri, GTlsCertificate*,
                                              GTlsCertificateFlags errors, gpointer self);
    static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                gpointer self);
    static void OnDeliverFinished(GObject* view, GAsyncResult* result, gpointer);
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer self);
    static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
    static gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer);
    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                  WebKitHitTestResult*, gpointer);
    static gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);

    void Leave(const std::string& uri);
    // The host's own navigation failed before its document was committed.
    void HostNavigationFailed(const LoadFailure& failure);
    void HandleScriptMessage(WebKitJavascriptResult* result);

    // Disconnects everything and destroys the view; no callback reaches the host afterwards.
    void Close();

    HostWindow& window_;
    bool closed_ = false;
    bool inspect_ = false;
    bool inspectorShown_ = false;
    std::string token_;
    std::function<void()> onReady_;
    std::function<void(const std::string&)> onMessage_;
    std::function<void(const std::string&)> onLeave_;
    std::function<void(const LoadFailure&)> onFailed_;
    GObjectPtr<WebKitUserContentManager> content_;
    // Owned by the window; a reference is kept so it can be torn down in order.
    GObjectPtr<WebKitWebView> viewRef_;
    WebKitWebView* view_ = nullptr;
    GObjectPtr<GCancellable> cancellable_;
    guint readySource_ = 0;
    bool navigationBegun_ = false;

    // Which documents may stay in the window and speak to the host.
    PageConfinement confinement_;
    // The address of the top-level document committed last.
    std::string committedUri_;
};

// Leaves only the editing actions a page's text needs (cut, copy, paste, select all) in a context
// menu; true when nothing is left, so that no menu is shown at all.
bool KeepEditingActionsOnly(WebKitContextMenu* menu, bool keepInspector = false);

} // namespace tarvik::platform::gtk
