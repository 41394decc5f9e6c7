#include "platform/gtk/built_in_page.h"

#include "built_in_page_html.h"
#include "platform/gtk/guarded_callback.h"
#include "platform/gtk/host_window.h"
#include "platform/gtk/web_view.h"

#include <cstring>

namespace tarvik::platform::gtk {

namespace {

// The address the page's own document is loaded under; it has no origin any web page shares.
constexpr char kDocumentUri[] = "about:blank";

} // namespace

std::string BuiltInPageDocument() {
    std::string html(reinterpret_cast<const char*>(kBuiltInPageHtml), kBuiltInPageHtmlSize);
    const std::string placeholder = "@BUILT_IN_HANDLER@";
    const size_t at = html.find(placeholder);
    if (at != std::string::npos)
        html.replace(at, placeholder.size(), kBuiltInHandlerName);
    return html;
}

bool DesktopPrefersDark() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE)
               : nullptr;
    if (schema) {
        const bool hasKey = g_settings_schema_has_key(schema, "color-scheme");
        g_settings_schema_unref(schema);
        if (hasKey) {
            GObjectPtr<GSettings> settings(g_settings_new("org.gnome.desktop.interface"));
            GCharPtr scheme(g_settings_get_string(settings.get(), "color-scheme"));
            if (scheme && std::strcmp(scheme.get(), "default") != 0)
                return std::strcmp(scheme.get(), "prefer-dark") == 0;
        }
    }
    GtkSettings* gtkSettings = gtk_settings_get_default();
    if (!gtkSettings)
        return false;
    gboolean preferDark = FALSE;
    gchar* rawTheme = nullptr;
    g_object_get(gtkSettings, "gtk-application-prefer-dark-theme", &preferDark, "gtk-theme-name",
                 &rawTheme, nullptr);
    GCharPtr theme(rawTheme);
    if (preferDark)
        return true;
    if (!theme)
        return false;
    const std::string name(theme.get());
    return name.size() >= 5 && (name.ends_with("-dark") || name.ends_with(":dark"));
}

BuiltInPage::BuiltInPage(HostWindow& window) : m_window(window) {
    m_window.WhenDestroyed([this] { Close(); });
}

BuiltInPage::~BuiltInPage() {
    Close();
}

void BuiltInPage::SetCommandHandler(std::function<void(const std::string& command)> onCommand) {
    if (!m_closed)
        m_onCommand = std::move(onCommand);
}

void BuiltInPage::Make() {
    m_content.reset(webkit_user_content_manager_new());
    m_cancellable.reset(g_cancellable_new());
    const std::string signal = std::string("script-message-received::") + kBuiltInHandlerName;
    g_signal_connect(m_content.get(), signal.c_str(), G_CALLBACK(OnScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(m_content.get(),
                                                                kBuiltInHandlerName);
    m_view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(m_content.get()));
    m_viewRef = RefObject(m_view);
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(m_view, "create", G_CALLBACK(OnCreate), this);
    g_signal_connect(m_view, "permission-request", G_CALLBACK(OnPermissionRequest), this);
    g_signal_connect(m_view, "context-menu", G_CALLBACK(OnContextMenu), this);
    gtk_widget_show(GTK_WIDGET(m_view));
    gtk_stack_add_named(m_window.Content(), GTK_WIDGET(m_view), kStackName);
    m_loadingOwnDocument = true;
    webkit_web_view_load_html(m_view, BuiltInPageDocument().c_str(), kDocumentUri);
}

void BuiltInPage::Show(const std::string& json) {
    if (m_closed || !m_window.Content())
        return;
    if (!m_view)
        Make();
    m_data = json;
    m_shown = true;
    gtk_stack_set_visible_child_name(m_window.Content(), kStackName);
    // The keyboard goes to the page the user now sees, so that its buttons can be reached.
    gtk_widget_grab_focus(GTK_WIDGET(m_view));
    Deliver();
}

void BuiltInPage::Hide() {
    if (!m_shown || m_closed || !m_window.Content())
        return;
    m_shown = false;
    if (gtk_stack_get_child_by_name(m_window.Content(), WebView::kStackName)) {
        gtk_stack_set_visible_child_name(m_window.Content(), WebView::kStackName);
        gtk_widget_grab_focus(gtk_stack_get_visible_child(m_window.Content()));
    }
}

void BuiltInPage::Deliver() {
    if (!m_view || !m_loaded || !m_data)
        return;
    GVariantDict arguments;
    g_variant_dict_init(&arguments, nullptr);
    g_variant_dict_insert_value(&arguments, "json", g_variant_new_string(m_data->c_str()));
    // As text: WebKit takes no boolean arguments.
    g_variant_dict_insert_value(&arguments, "scheme",
                                g_variant_new_string(DesktopPrefersDark() ? "dark" : "light"));
    // The texts travel as an argument and are parsed by the page, never run as script.
    webkit_web_view_call_async_javascript_function(
        m_view, "return window.tarvikShow(JSON.parse(json), scheme === 'dark');", -1,
        g_variant_dict_end(&arguments), nullptr, nullptr, m_cancellable.get(), OnDeliverFinished,
        nullptr);
}

void BuiltInPage::Close() {
    if (m_closed)
        return;
    m_closed = true;
    m_onCommand = nullptr;
    if (!m_view)
        return;
    g_cancellable_cancel(m_cancellable.get());
    g_signal_handlers_disconnect_by_data(m_content.get(), this);
    g_signal_handlers_disconnect_by_data(m_view, this);
    webkit_user_content_manager_unregister_script_message_handler(m_content.get(),
                                                                  kBuiltInHandlerName);
    gtk_widget_destroy(GTK_WIDGET(m_view));
    m_view = nullptr;
}

void BuiltInPage::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* page = static_cast<BuiltInPage*>(self);
    if (event != WEBKIT_LOAD_FINISHED)
        return;
    page->m_loadingOwnDocument = false;
    page->m_loaded = true;
    RunGuarded("built-in page load", [&] { page->Deliver(); });
}

void BuiltInPage::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                  gpointer self) {
    RunGuarded("built-in page message", [&] {
        auto* page = static_cast<BuiltInPage*>(self);
        JSCValue* value = webkit_javascript_result_get_js_value(result);
        if (!value || !jsc_value_is_string(value))
            return;
        GCharPtr text(jsc_value_to_string(value));
        const std::string command = text ? text.get() : "";
        // The page has two buttons and nothing else; any other text is not a command.
        if (command != "retry" && command != "close")
            return;
        if (page->m_onCommand)
            page->m_onCommand(command);
    });
}

gboolean BuiltInPage::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                     WebKitPolicyDecisionType type, gpointer self) {
    auto* page = static_cast<BuiltInPage*>(self);
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        // Only the load of its own document; a link, form, script or reload goes nowhere.
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        if (page->m_loadingOwnDocument && uri && std::strcmp(uri, kDocumentUri) == 0)
            return FALSE;
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    return FALSE;
}

GtkWidget* BuiltInPage::OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) {
    return nullptr;
}

gboolean BuiltInPage::OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request,
                                          gpointer) {
    webkit_permission_request_deny(request);
    return TRUE;
}

gboolean BuiltInPage::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                    WebKitHitTestResult*, gpointer) {
    // No reload, no inspector, no "open link": nothing to offer.
    return TRUE;
}

void BuiltInPage::OnDeliverFinished(GObject* view, GAsyncResult* result, gpointer) {
    GError* rawError = nullptr;
    GObjectPtr<JSCValue> value(webkit_web_view_call_async_javascript_function_finish(
        WEBKIT_WEB_VIEW(view), result, &rawError));
    GErrorPtr error(rawError);
}

} // namespace tarvik::platform::gtk
