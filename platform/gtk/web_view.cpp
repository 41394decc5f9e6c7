#include "platform/gtk/web_view.h"

#include "platform/gtk/guarded_callback.h"
#include "platform/gtk/host_window.h"
#include "platform/gtk/page_bridge.h"
#include "platform/gtk/sandbox_probe.h"
#include "platform/gtk/web_languages.h"

#include "common/curl/web_url.h"
#include "common/log.h"

#include <cstdio>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace tarvik::platform::gtk {

namespace {

// Gives the heap that start-up freed back to the system, once, when the first page has loaded and
// the program waits for the user. Reading the configuration and the service's answer and making
// the views leave about 2 MiB of freed memory that the allocator keeps for later requests the
// waiting program does not make (the program's own process, measured in /proc/PID/smaps: 30.6 MiB
// private dirty before a trim, 28.7 after).
void ReturnFreedStartUpMemory() {
#ifdef __GLIBC__
    static bool done = false;
    if (done)
        return;
    done = true;
    g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer) -> gboolean {
            malloc_trim(0);
            return G_SOURCE_REMOVE;
        },
        nullptr, nullptr);
#endif
}

// Web content is confined to a sandbox where the platform allows it: the page is remote content
// one click away from an elevated launch. Decided once, before the first web process starts.
void ConfineWebProcesses() {
    static bool decided = false;
    if (decided)
        return;
    decided = true;
    std::string why;
    const gint64 started = g_get_monotonic_time();
    const bool confined = SandboxProbeAnswer(why);
    // The time waited here, not the probe's own: it normally ran while the display opened.
    TARVIK_LOG("web view: sandbox ", confined ? "available" : "unavailable", ", waited ",
               (g_get_monotonic_time() - started) / 1000, " ms");
    if (confined) {
        webkit_web_context_set_sandbox_enabled(webkit_web_context_get_default(), TRUE);
        return;
    }
    std::fprintf(stderr, "tarvik: web content runs without a sandbox: %s\n", why.c_str());
}

// The vendor's service and page see the user's languages (Accept-Language, navigator.languages)
// from the same list the host's own texts follow. WebKit's own guess comes from the C library's
// locale alone: it ignores LANGUAGE, names one language at most, says "en-US" for a locale that
// is not installed, and sends "Accept-Language: C" in the C locale (seen with WebKitGTK 2.50).
// With no language at all, English is asked for, as the host's texts are then English.
// Decided once, before the first web process starts.
void PreferUsersLanguages() {
    static bool decided = false;
    if (decided)
        return;
    decided = true;
    std::vector<std::string> names;
    for (const gchar* const* name = g_get_language_names(); name && *name; ++name)
        names.emplace_back(*name);
    std::vector<std::string> tags = WebLanguages(names);
    if (tags.empty())
        tags.emplace_back("en");
    std::vector<const gchar*> list;
    for (const std::string& tag : tags)
        list.push_back(tag.c_str());
    list.push_back(nullptr);
    webkit_web_context_set_preferred_languages(webkit_web_context_get_default(), list.data());
}

} // namespace

WebView::WebView(HostWindow& window) : window_(window), token_(MakeBridgeToken()) {
    window_.WhenDestroyed([this] { Close(); });
}

WebView::~WebView() {
    Close();
}

void WebView::Create(std::function<void()> onReady) {
    if (view_ || closed_ || !window_.Widget())
        return;
    onReady_ = std::move(onReady);
    ConfineWebProcesses();
    PreferUsersLanguages();
    content_.reset(webkit_user_content_manager_new());
    cancellable_.reset(g_cancellable_new());
    const std::string script = PageBridgeScript(token_);
    WebKitUserScript* bridge =
        webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_.get(), bridge);
    webkit_user_script_unref(bridge);
    // Connected before registering, so that no message can slip past the handler.
    const std::string signal = std::string("script-message-received::") + kBridgeHandlerName;
    g_signal_connect(content_.get(), signal.c_str(), G_CALLBACK(OnScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(content_.get(), kBridgeHandlerName);

    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content_.get()));
    viewRef_ = RefObject(view_);
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, inspect_ ? TRUE : FALSE);
    // An installer page gains nothing from GPU compositing, and setting it up (in software where
    // there is no GPU) costs more start-up time and memory than the whole rest of the page: it
    // roughly halved the time to a painted page and cut a third of the memory in the start-up
    // benchmark.
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(view_, "load-failed-with-tls-errors", G_CALLBACK(OnLoadFailedWithTlsErrors),
                     this);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
    g_signal_connect(view_, "permission-request", G_CALLBACK(OnPermissionRequest), this);
    g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);

    gtk_widget_show(GTK_WIDGET(view_));
    gtk_stack_add_named(window_.Content(), GTK_WIDGET(view_), kStackName);

    // The embedded browser of the Windows host completes its creation asynchronously, from the
    // message loop; the host relies on that order (its configuration is read in between).
    readySource_ = g_idle_add(OnReadyIdle, this);
    TARVIK_LOG("web view: made");
}

void WebView::Close() {
    if (closed_)
        return;
    closed_ = true;
    onReady_ = nullptr;
    onMessage_ = nullptr;
    onLeave_ = nullptr;
    onFailed_ = nullptr;
    if (readySource_ != 0)
        g_source_remove(readySource_);
    readySource_ = 0;
    if (!view_)
        return;
    g_cancellable_cancel(cancellable_.get());
    g_signal_handlers_disconnect_by_data(content_.get(), this);
    g_signal_handlers_disconnect_by_data(view_, this);
    webkit_user_content_manager_unregister_script_message_handler(content_.get(),
                                                                  kBridgeHandlerName);
    gtk_widget_destroy(GTK_WIDGET(view_));
    view_ = nullptr;
}

void WebView::FitToWindow() {
    // The window is a container of one child: GTK already gives the web view the whole client
    // area on every size change.
    if (view_)
        gtk_widget_queue_resize(GTK_WIDGET(view_));
}

void WebView::SetMessageHandler(std::function<void(const std::string& text)> onMessage) {
    if (!closed_)
        onMessage_ = std::move(onMessage);
}

void WebView::SetExternalNavigationHandler(std::function<void(const std::string& url)> onLeave) {
    if (!closed_)
        onLeave_ = std::move(onLeave);
}

void WebView::SetLoadFailureHandler(std::function<void(const LoadFailure&)> onFailed) {
    if (!closed_)
        onFailed_ = std::move(onFailed);
}

void WebView::HostNavigationFailed(const LoadFailure& failure) {
    confinement_.HostNavigationEnded();
    if (onFailed_)
        onFailed_(failure);
}

void WebView::Leave(const std::string& uri) {
    if (onLeave_ && !uri.empty())
        onLeave_(uri);
}

void WebView::Navigate(const std::string& uri) {
    if (!view_)
        return;
    // An address without an origin (unparsable, or a web address without a host) cannot be
    // the host's page.
    if (!confinement_.BeginHostNavigation(uri))
        return;
    navigationBegun_ = true;
    webkit_web_view_load_uri(view_, uri.c_str());
}

void WebView::WarmUp(const std::string& url) {
    if (!view_ || navigationBegun_)
        return;
    const std::optional<WebUrl> parsed = ParseWebUrl(url);
    const std::optional<std::string> origin = parsed ? OriginOf(url) : std::nullopt;
    if (!origin)
        return;
    GVariantDict arguments;
    g_variant_dict_init(&arguments, nullptr);
    g_variant_dict_insert_value(&arguments, "origin", g_variant_new_string(origin->c_str()));
    // Only in the initial empty document: should the script arrive after the page's document,
    // the page's own elements are left alone. The origin is an argument, never script source.
    static constexpr char kBody[] = "if (location.href !== 'about:blank') return false;"
                                    "const link = document.createElement('link');"
                                    "link.rel = 'preconnect'; link.href = origin;"
                                    "(document.head || document.documentElement).appendChild(link);"
                                    "return true;";
    webkit_web_view_call_async_javascript_function(view_, kBody, -1, g_variant_dict_end(&arguments),
                                                   nullptr, nullptr, cancellable_.get(),
                                                   OnDeliverFinished, nullptr);
    TARVIK_LOG("web view: warming up ", LoggedUrl(*origin));
}

void WebView::PostJson(const std::string& json) {
    // Only to the host's page, by the same rule as its messages: no other document reads the
    // host's notices.
    if (!view_ || !confinement_.AcceptsMessagesFrom(committedUri_))
        return;
    GVariantDict arguments;
    g_variant_dict_init(&arguments, nullptr);
    g_variant_dict_insert_value(&arguments, "json", g_variant_new_string(json.c_str()));
    const std::string body = std::string("return window.") + kBridgeDeliverFunction + "(json);";
    // The JSON travels as an argument and is parsed by the bridge, never run as script.
    webkit_web_view_call_async_javascript_function(view_, body.c_str(), -1,
                                                   g_variant_dict_end(&arguments), nullptr, nullptr,
                                                   cancellable_.get(), OnDeliverFinished, nullptr);
}

gboolean WebView::OnReadyIdle(gpointer self) {
    auto* view = static_cast<WebView*>(self);
    view->readySource_ = 0;
    // Moved out first: the host may destroy this web view from inside its handler.
    std::function<void()> onReady = std::move(view->onReady_);
    if (onReady)
        RunGuarded("web view ready", onReady);
    return G_SOURCE_REMOVE;
}

void WebView::OnLoadChanged(WebKitWebView* webView, WebKitLoadEvent event, gpointer self) {
    auto* view = static_cast<WebView*>(self);
    if (event == WEBKIT_LOAD_FINISHED) {
        RunGuarded("page load finished", [] { TARVIK_LOG("page: load finished"); });
        ReturnFreedStartUpMemory();
    }
    if (event != WEBKIT_LOAD_COMMITTED)
        return;
    RunGuarded("page commit", [&] {
        const char* uri = webkit_web_view_get_uri(webView);
        view->committedUri_ = uri ? uri : "";
        TARVIK_LOG("page: committed ", LoggedUrl(view->committedUri_));
        view->confinement_.Committed(view->committedUri_);
        // Opened once the page has a document, so that the inspector shows it from the start.
        if (view->inspect_ && !view->inspectorShown_) {
            view->inspectorShown_ = true;
            webkit_web_inspector_show(webkit_web_view_get_inspector(webView));
        }
    });
}

gboolean WebView::OnLoadFailed(WebKitWebView*, WebKitLoadEvent event, gchar*, GError* error,
                               gpointer self) {
    auto* view = static_cast<WebView*>(self);
    RunGuarded("page load failed", [&] {
        TARVIK_LOG("page: load failed: ", error ? error->message : "unknown error");
    });
    // A failure before the commit ends the host's navigation; the shown document stays foreign.
    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED ||
        !view->confinement_.AwaitingHostCommit())
        return FALSE;
    // A load replaced by the host's next navigation, or one the view itself refused (an HTTP
    // error answer, already reported), is no failure of the page.
    const bool replaced =
        error && g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
    const bool refused =
        error && g_error_matches(error, WEBKIT_POLICY_ERROR,
                                 WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
    if (refused)
        view->confinement_.HostNavigationEnded();
    if (replaced || refused)
        return FALSE;
    RunGuarded("page load failure", [&] { view->HostNavigationFailed(LoadFailure{}); });
    return FALSE;
}

gboolean WebView::OnLoadFailedWithTlsErrors(WebKitWebView*, gchar*, GTlsCertificate*,
                                            GTlsCertificateFlags errors, gpointer self) {
    auto* view = static_cast<WebView*>(self);
    if (!view->confinement_.AwaitingHostCommit())
        return FALSE;
    // The same order of causes as the service's requests: the clock's, then the name's, then
    // the rest (an unknown or untrusted authority, a revoked or insecure certificate).
    const CertificateProblem problem =
        (errors & (G_TLS_CERTIFICATE_EXPIRED | G_TLS_CERTIFICATE_NOT_ACTIVATED))
            ? CertificateProblem::Expired
        : (errors & G_TLS_CERTIFICATE_BAD_IDENTITY) ? CertificateProblem::WrongHost
                                                    : CertificateProblem::Untrusted;
    TARVIK_LOG("page: certificate refused: ", CertificateProblemText(problem));
    // Reported here with its cause; the host's navigation has ended, so the load failure that
    // follows is not reported again.
    RunGuarded("page certificate refused", [&] {
        view->HostNavigationFailed(LoadFailure{0, problem});
    });
    return FALSE;
}

void WebView::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                              gpointer self) {
    RunGuarded("page message", [&] { static_cast<WebView*>(self)->HandleScriptMessage(result); });
}

void WebView::HandleScriptMessage(WebKitJavascriptResult* result) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!value || !jsc_value_is_string(value))
        return;
    // As bytes with their length: a zero byte inside the message is part of it, not its end.
    GBytesPtr bytes(jsc_value_to_string_as_bytes(value));
    if (!bytes)
        return;
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    const std::string_view payload(data ? data : "", data ? size : 0);
    std::optional<std::string> text = UnwrapBridgeMessage(payload, token_);
    if (!text || !confinement_.AcceptsMessagesFrom(committedUri_))
        return;
    if (onMessage_)
        onMessage_(*text);
}

gboolean WebView::OnDecidePolicy(WebKitWebView* webView, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self) {
    return RunGuarded("policy decision", gboolean(FALSE),
                      [&] { return DecidePolicy(webView, decision, type, self); });
}

gboolean WebView::DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                               WebKitPolicyDecisionType type, gpointer self) {
    auto* view = static_cast<WebView*>(self);
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        // No second window ever opens: a "_blank" link or window.open goes where the user expects
        // a link to go, and the page stays.
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        const std::string target = uri ? uri : "";
        webkit_policy_decision_ignore(decision);
        view->Leave(target);
        return TRUE;
    }
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        // A navigation decision cannot tell the top-level document from a frame, and a frame of
        // another site inside the page is the page's own business; the answer for the top-level
        // document can, and ignoring it keeps the current page in the window. The other site has
        // received the request by then; the browser asks it again.
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        if (!webkit_response_policy_decision_is_main_frame_main_resource(response))
            return FALSE;
        // The host's page answered with an HTTP error: an error page from a server is no page
        // the user can install from, so it is not shown and the host hears of the failure.
        WebKitURIResponse* answer = webkit_response_policy_decision_get_response(response);
        if (view->confinement_.AwaitingHostCommit() && answer &&
            webkit_uri_response_get_status_code(answer) >= 400) {
            webkit_policy_decision_ignore(decision);
            view->HostNavigationFailed(
                LoadFailure{static_cast<int>(webkit_uri_response_get_status_code(answer))});
            return TRUE;
        }
        WebKitURIRequest* request = webkit_response_policy_decision_get_request(response);
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        const std::string target = uri ? uri : "";
        if (!view->confinement_.LeavesThePage(target))
            return FALSE;
        webkit_policy_decision_ignore(decision);
        view->Leave(target);
        return TRUE;
    }
    return FALSE;
}

GtkWidget* WebView::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    // A script's window.open asks for the new view directly, without a policy decision first.
    RunGuarded("new window request", [&] {
        WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        static_cast<WebView*>(self)->Leave(uri ? uri : "");
    });
    return nullptr;
}

gboolean WebView::OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
    // An installer page needs no notifications, location, camera, microphone or clipboard
    // reading, and the user is never asked: denied without a prompt, whatever WebKit's default.
    webkit_permission_request_deny(request);
    return TRUE;
}

gboolean WebView::OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                WebKitHitTestResult*, gpointer self) {
    const bool inspecting = static_cast<WebView*>(self)->inspect_;
    return RunGuarded("context menu", gboolean(FALSE),
                      [&] { return gboolean(KeepEditingActionsOnly(menu, inspecting)); });
}

bool KeepEditingActionsOnly(WebKitContextMenu* menu, bool keepInspector) {
    // Only the editing actions a page's text needs; navigation, new windows, reloading and the
    // inspector would all lead out of the vendor's page.
    GList* items = webkit_context_menu_get_items(menu);
    std::vector<WebKitContextMenuItem*> unwanted;
    for (GList* entry = items; entry; entry = entry->next) {
        auto* item = static_cast<WebKitContextMenuItem*>(entry->data);
        switch (webkit_context_menu_item_get_stock_action(item)) {
        case WEBKIT_CONTEXT_MENU_ACTION_CUT:
        case WEBKIT_CONTEXT_MENU_ACTION_COPY:
        case WEBKIT_CONTEXT_MENU_ACTION_PASTE:
        case WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL:
            break;
        case WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT:
            if (!keepInspector)
                unwanted.push_back(item);
            break;
        default:
            unwanted.push_back(item);
        }
    }
    for (WebKitContextMenuItem* item : unwanted)
        webkit_context_menu_remove(menu, item);
    // Nothing left: no menu at all rather than an empty one.
    return webkit_context_menu_get_n_items(menu) == 0;
}

void WebView::OnDeliverFinished(GObject* view, GAsyncResult* result, gpointer) {
    GError* rawError = nullptr;
    GObjectPtr<JSCValue> value(webkit_web_view_call_async_javascript_function_finish(
        WEBKIT_WEB_VIEW(view), result, &rawError));
    // A page without listeners, or not loaded yet, simply does not get the message.
    GErrorPtr error(rawError);
}

} // namespace tarvik::platform::gtk
