#pragma once

#include "platform/built_in_page.h"
#include "platform/gtk/colour_scheme.h"
#include "platform/gtk/gobject_ptr.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <optional>
#include <string>

namespace tarvik::platform::gtk {

class HostWindow;

// The built-in page: a second WebKitGTK view in the window's content stack, made the first time
// it is shown, with a content manager and a script message channel of its own (the vendor's view
// has neither). Its document is the page compiled into the program, loaded from memory; every
// other navigation, new window, permission and context menu is refused, so nothing leads into
// or out of it. Only the messages "retry" and "close" from it reach the host; "drag" (a press on
// its title bar) starts the window system's own move of the window.
//
// Light or dark: the page is told the one decision the platform made (ApplyColourScheme), the
// same the vendor's view follows.
//
// Threads: user-interface thread only. It lives in `window` and goes when the window is
// destroyed; `window` must outlive it.
class BuiltInPage final : public platform::BuiltInPage {
public:
    // Its name in the window's content stack.
    static constexpr char kStackName[] = "built-in";

    explicit BuiltInPage(HostWindow& window);
    ~BuiltInPage() override;
    BuiltInPage(const BuiltInPage&) = delete;
    BuiltInPage& operator=(const BuiltInPage&) = delete;

    // The native view; null until first shown and after the window is destroyed.
    WebKitWebView* Widget() const { return view_; }

    void Show(const std::string& json) override;
    void Hide() override;
    bool IsShown() const override { return shown_; }
    void SetCommandHandler(std::function<void(const std::string& command)> onCommand) override;

private:
    void Make();
    void Deliver();
    void Close();
    // Lets the window system move the window with the pointer, from where it is now.
    void BeginMove();
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                gpointer self);
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer self);
    static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer);
    static gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer);
    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                  WebKitHitTestResult*, gpointer);
    static void OnDeliverFinished(GObject* view, GAsyncResult* result, gpointer);

    HostWindow& window_;
    bool closed_ = false;
    bool shown_ = false;
    // The page's own document has loaded, so data can be handed to it.
    bool loaded_ = false;
    // Our own load is under way: the one navigation the view allows.
    bool loadingOwnDocument_ = false;
    std::optional<std::string> data_;
    std::function<void(const std::string&)> onCommand_;
    GObjectPtr<WebKitUserContentManager> content_;
    GObjectPtr<WebKitWebView> viewRef_;
    WebKitWebView* view_ = nullptr;
    GObjectPtr<GCancellable> cancellable_;
};

// What the desktop says about light and dark (GTK_THEME, GNOME's color-scheme setting, GTK's own
// settings); see DecideDark.
ColourSchemeInputs ReadColourSchemeInputs();
// Applies the one decision to both views: the built-in page is told it, and GTK's dark
// preference, which WebKit passes on to the vendor's page, is set from it. Once, on the
// user-interface thread, before the views are made.
void ApplyColourScheme(bool dark);
bool DecidedDark();

// The built-in page's document with its channel name filled in.
std::string BuiltInPageDocument();

// The script message channel of the built-in page; the vendor's view never registers it.
inline constexpr char kBuiltInHandlerName[] = "tarvikBuiltIn";

} // namespace tarvik::platform::gtk
