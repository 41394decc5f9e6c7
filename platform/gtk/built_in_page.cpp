#include "platform/gtk/built_in_page.h"

#include "built_in_page_html.h"
#include "platform/gtk/guarded_callback.h"
#include "platform/gtk/host_window.h"
#include "platform/gtk/web_view.h"

#include <cstdlib>
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

ColourSchemeInputs ReadColourSchemeInputs() {
    ColourSchemeInputs inputs;
    if (const char* variable = std::getenv("GTK_THEME"))
        inputs.gtkThemeVariable = variable;
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
            if (scheme)
                inputs.colorScheme = scheme.get();
        }
    }
    if (GtkSettings* gtkSettings = gtk_settings_get_default()) {
        gboolean preferDark = FALSE;
        gchar* rawTheme = nullptr;
        g_object_get(gtkSettings, "gtk-application-prefer-dark-theme", &preferDark,
                     "gtk-theme-name", &rawTheme, nullptr);
        GCharPtr theme(rawTheme);
        inputs.gtkPrefersDark = preferDark;
        if (theme)
            inputs.gtkThemeName = theme.get();
    }
    return inputs;
}

namespace {
// Decided once, when the platform is made (ApplyColourScheme), before any view exists.
bool decidedDark = false;
} // namespace

void ApplyColourScheme(bool dark) {
    decidedDark = dark;
    // WebKit gives pages prefers-color-scheme: dark from GTK's dark preference (or a dark
    // theme); set from the one decision, the vendor's view follows it like the built-in page.
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_set(settings, "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE, nullptr);
}

bool DecidedDark() {
    return decidedDark;
}

BuiltInPage::BuiltInPage(HostWindow& window) : window_(window) {
    window_.WhenDestroyed([this] { Close(); });
}

BuiltInPage::~BuiltInPage() {
    Close();
}

void BuiltInPage::SetCommandHandler(std::function<void(const std::string& command)> onCommand) {
    if (!closed_)
        onCommand_ = std::move(onCommand);
}

void BuiltInPage::Make() {
    content_.reset(webkit_user_content_manager_new());
    cancellable_.reset(g_cancellable_new());
    const std::string signal = std::string("script-message-received::") + kBuiltInHandlerName;
    g_signal_connect(content_.get(), signal.c_str(), G_CALLBACK(OnScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(content_.get(),
                                                                kBuiltInHandlerName);
    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content_.get()));
    viewRef_ = RefObject(view_);
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
    g_signal_connect(view_, "permission-request", G_CALLBACK(OnPermissionRequest), this);
    g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
    gtk_widget_show(GTK_WIDGET(view_));
    gtk_stack_add_named(window_.Content(), GTK_WIDGET(view_), kStackName);
    loadingOwnDocument_ = true;
    webkit_web_view_load_html(view_, BuiltInPageDocument().c_str(), kDocumentUri);
}

void BuiltInPage::Show(const std::string& json) {
    if (closed_ || !window_.Content())
        return;
    if (!view_)
        Make();
    data_ = json;
    shown_ = true;
    gtk_stack_set_visible_child_name(window_.Content(), kStackName);
    // The keyboard goes to the page the user now sees, so that its buttons can be reached.
    gtk_widget_grab_focus(GTK_WIDGET(view_));
    Deliver();
}

void BuiltInPage::Hide() {
    if (!shown_ || closed_ || !window_.Content())
        return;
    shown_ = false;
    if (gtk_stack_get_child_by_name(window_.Content(), WebView::kStackName)) {
        gtk_stack_set_visible_child_name(window_.Content(), WebView::kStackName);
        gtk_widget_grab_focus(gtk_stack_get_visible_child(window_.Content()));
    }
}

void BuiltInPage::Deliver() {
    if (!view_ || !loaded_ || !data_)
        return;
    GVariantDict arguments;
    g_variant_dict_init(&arguments, nullptr);
    g_variant_dict_insert_value(&arguments, "json", g_variant_new_string(data_->c_str()));
    // As text: WebKit takes no boolean arguments.
    g_variant_dict_insert_value(&arguments, "scheme",
                                g_variant_new_string(DecidedDark() ? "dark" : "light"));
    // The texts travel as an argument and are parsed by the page, never run as script.
    webkit_web_view_call_async_javascript_function(
        view_, "return window.tarvikShow(JSON.parse(json), scheme === 'dark');", -1,
        g_variant_dict_end(&arguments), nullptr, nullptr, cancellable_.get(), OnDeliverFinished,
        nullptr);
}

void BuiltInPage::BeginMove() {
    GtkWindow* window = window_.Widget();
    GdkWindow* native = window ? gtk_widget_get_window(GTK_WIDGET(window)) : nullptr;
    GdkSeat* seat = native ? gdk_display_get_default_seat(gdk_window_get_display(native)) : nullptr;
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer)
        return;
    int x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    gtk_window_begin_move_drag(window, GDK_BUTTON_PRIMARY, x, y, GDK_CURRENT_TIME);
}

void BuiltInPage::Close() {
    if (closed_)
        return;
    closed_ = true;
    onCommand_ = nullptr;
    if (!view_)
        return;
    g_cancellable_cancel(cancellable_.get());
    g_signal_handlers_disconnect_by_data(content_.get(), this);
    g_signal_handlers_disconnect_by_data(view_, this);
    webkit_user_content_manager_unregister_script_message_handler(content_.get(),
                                                                  kBuiltInHandlerName);
    gtk_widget_destroy(GTK_WIDGET(view_));
    view_ = nullptr;
}

void BuiltInPage::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* page = static_cast<BuiltInPage*>(self);
    if (event != WEBKIT_LOAD_FINISHED)
        return;
    page->loadingOwnDocument_ = false;
    page->loaded_ = true;
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
        // A press on the title bar: the window system moves the window from here, as with a
        // frame's title bar; the host has no part in it.
        if (command == "drag") {
            page->BeginMove();
            return;
        }
        // The page has two buttons and nothing else; any other text is not a command.
        if (command != "retry" && command != "close")
            return;
        if (page->onCommand_)
            page->onCommand_(command);
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
        if (page->loadingOwnDocument_ && uri && std::strcmp(uri, kDocumentUri) == 0)
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
