#include "platform/gtk/web_view.h"

#include "platform/gtk/guarded_callback.h"
#include "platform/gtk/host_window.h"
#include "platform/gtk/page_bridge.h"
#include "platform/gtk/page_origin.h"

namespace tarvik::platform::gtk {

WebView::WebView(HostWindow& window) : m_window(window), m_token(MakeBridgeToken()) {
    m_window.WhenDestroyed([this] { Close(); });
}

WebView::~WebView() {
    Close();
}

void WebView::Create(std::function<void()> onReady) {
    if (m_view || m_closed || !m_window.Widget())
        return;
    m_onReady = std::move(onReady);
    m_content.reset(webkit_user_content_manager_new());
    m_cancellable.reset(g_cancellable_new());
    const std::string script = PageBridgeScript(m_token);
    WebKitUserScript* bridge =
        webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(m_content.get(), bridge);
    webkit_user_script_unref(bridge);
    // Connected before registering, so that no message can slip past the handler.
    const std::string signal = std::string("script-message-received::") + kBridgeHandlerName;
    g_signal_connect(m_content.get(), signal.c_str(), G_CALLBACK(OnScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(m_content.get(),
                                                                kBridgeHandlerName);

    m_view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(m_content.get()));
    m_viewRef = RefObject(m_view);
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    // An installer page gains nothing from GPU compositing, and setting it up (in software where
    // there is no GPU) costs more start-up time and memory than the whole rest of the page: it
    // roughly halved the time to a painted page and cut a third of the memory in the start-up
    // benchmark.
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(m_view, "load-failed", G_CALLBACK(OnLoadFailed), this);

    gtk_container_add(GTK_CONTAINER(m_window.Widget()), GTK_WIDGET(m_view));
    gtk_widget_show(GTK_WIDGET(m_view));

    // The embedded browser of the Windows host completes its creation asynchronously, from the
    // message loop; the host relies on that order (its configuration is read in between).
    m_readySource = g_idle_add(OnReadyIdle, this);
}

void WebView::Close() {
    if (m_closed)
        return;
    m_closed = true;
    m_onReady = nullptr;
    m_onMessage = nullptr;
    if (m_readySource != 0)
        g_source_remove(m_readySource);
    m_readySource = 0;
    if (!m_view)
        return;
    g_cancellable_cancel(m_cancellable.get());
    g_signal_handlers_disconnect_by_data(m_content.get(), this);
    g_signal_handlers_disconnect_by_data(m_view, this);
    webkit_user_content_manager_unregister_script_message_handler(m_content.get(),
                                                                  kBridgeHandlerName);
    gtk_widget_destroy(GTK_WIDGET(m_view));
    m_view = nullptr;
}

void WebView::FitToWindow() {
    // The window is a container of one child: GTK already gives the web view the whole client
    // area on every size change.
    if (m_view)
        gtk_widget_queue_resize(GTK_WIDGET(m_view));
}

void WebView::SetMessageHandler(std::function<void(const std::string& text)> onMessage) {
    if (!m_closed)
        m_onMessage = std::move(onMessage);
}

void WebView::Navigate(const std::string& uri) {
    if (!m_view)
        return;
    // An address without an origin (unparsable, or a web address without a host) cannot be
    // the host's page.
    if (!OriginOf(uri))
        return;
    m_hostOrigin.reset();
    m_awaitingHostCommit = true;
    webkit_web_view_load_uri(m_view, uri.c_str());
}

void WebView::PostJson(const std::string& json) {
    if (!m_view)
        return;
    GVariantDict arguments;
    g_variant_dict_init(&arguments, nullptr);
    g_variant_dict_insert_value(&arguments, "json", g_variant_new_string(json.c_str()));
    const std::string body = std::string("return window.") + kBridgeDeliverFunction + "(json);";
    // The JSON travels as an argument and is parsed by the bridge, never run as script.
    webkit_web_view_call_async_javascript_function(m_view, body.c_str(), -1,
                                                   g_variant_dict_end(&arguments), nullptr, nullptr,
                                                   m_cancellable.get(), OnDeliverFinished, nullptr);
}

gboolean WebView::OnReadyIdle(gpointer self) {
    auto* view = static_cast<WebView*>(self);
    view->m_readySource = 0;
    // Moved out first: the host may destroy this web view from inside its handler.
    std::function<void()> onReady = std::move(view->m_onReady);
    if (onReady)
        RunGuarded("web view ready", onReady);
    return G_SOURCE_REMOVE;
}

void WebView::OnLoadChanged(WebKitWebView* webView, WebKitLoadEvent event, gpointer self) {
    if (event != WEBKIT_LOAD_COMMITTED)
        return;
    auto* view = static_cast<WebView*>(self);
    RunGuarded("page commit", [&] {
        const char* uri = webkit_web_view_get_uri(webView);
        view->m_committedUri = uri ? uri : "";
        if (view->m_awaitingHostCommit) {
            view->m_awaitingHostCommit = false;
            view->m_hostOrigin = OriginOf(view->m_committedUri);
        }
    });
}

gboolean WebView::OnLoadFailed(WebKitWebView*, WebKitLoadEvent event, gchar*, GError*,
                               gpointer self) {
    // A failure before the commit ends the host's navigation; the shown document stays foreign.
    if (event != WEBKIT_LOAD_COMMITTED && event != WEBKIT_LOAD_FINISHED)
        static_cast<WebView*>(self)->m_awaitingHostCommit = false;
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
    std::optional<std::string> text = UnwrapBridgeMessage(payload, m_token);
    if (!text || !m_hostOrigin || OriginOf(m_committedUri) != m_hostOrigin)
        return;
    if (m_onMessage)
        m_onMessage(*text);
}

void WebView::OnDeliverFinished(GObject* view, GAsyncResult* result, gpointer) {
    GError* rawError = nullptr;
    GObjectPtr<JSCValue> value(webkit_web_view_call_async_javascript_function_finish(
        WEBKIT_WEB_VIEW(view), result, &rawError));
    // A page without listeners, or not loaded yet, simply does not get the message.
    GErrorPtr error(rawError);
}

} // namespace tarvik::platform::gtk
