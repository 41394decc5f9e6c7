/* The floor for the start-up bench: the least a WebKitGTK window can do to show a page, with the
 * web view settings the assistant uses (CPU drawing, the sandbox where it can start) and nothing
 * else: no configuration, no service, no bridge. Usage: tarvik-bench-floor URL */
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <stdio.h>

static gboolean SandboxCanStart(void) {
    gchar* argv[] = {"bwrap", "--ro-bind", "/", "/", "--unshare-all", "--die-with-parent", "true",
                     NULL};
    gint status = 0;
    return g_spawn_sync(NULL, argv, NULL,
                        G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                            G_SPAWN_STDERR_TO_DEV_NULL,
                        NULL, NULL, NULL, NULL, &status, NULL) &&
           g_spawn_check_wait_status(status, NULL);
}

/* The same step lines as the assistant's log, so that the bench's table shows where the floor's
 * start-up goes beside the assistant's: a few lines to stderr cost microseconds. */
static gint64 log_zero;

static void Step(const char* what) {
    fprintf(stderr, "tarvik: [%8.1f ms] %s\n", (g_get_monotonic_time() - log_zero) / 1000.0, what);
}

static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    (void)view;
    (void)data;
    if (event == WEBKIT_LOAD_COMMITTED)
        Step("page: committed");
    else if (event == WEBKIT_LOAD_FINISHED)
        Step("page: load finished");
}

int main(int argc, char** argv) {
    log_zero = g_get_monotonic_time();
    fprintf(stderr, "tarvik: [%8.1f ms] log: started at %.1f ms of the monotonic clock\n", 0.0,
            log_zero / 1000.0);
    gtk_init(&argc, &argv);
    Step("start: display opened");
    if (argc < 2)
        return 2;
    if (SandboxCanStart())
        webkit_web_context_set_sandbox_enabled(webkit_web_context_get_default(), TRUE);
    Step("web view: sandbox asked");
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 640, 420);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    WebKitWebView* view = WEBKIT_WEB_VIEW(webkit_web_view_new());
    webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(view),
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    Step("web view: made");
    g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), NULL);
    Step("page: navigating");
    webkit_web_view_load_uri(view, argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
