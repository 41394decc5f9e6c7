#include "app/tarvik_dlg.h"
#include "gui/gui_test_support.h"
#include "support/loopback_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;

// The vendor's page: it sizes the window once loaded, and tells the service whether it can see
// the built-in page's channel (it must not).
constexpr char kVendorPage[] = R"(<!doctype html><html><body><h1>Vendor</h1><script>
const seen = !!(window.webkit && window.webkit.messageHandlers &&
                window.webkit.messageHandlers.tarvikBuiltIn);
window.chrome.webview.postMessage(JSON.stringify({msg_type: "post_data",
    msg_data: {event_id: seen ? "built-in channel seen" : "built-in channel hidden"}}));
window.chrome.webview.postMessage(JSON.stringify({msg_type: "resize_window",
    msg_data: {width: 600, height: 400}}));
</script></body></html>)";

// Runs a script in the built-in page's view and gives back its string result.
std::string RunInBuiltInPage(platform::gtk::GtkPlatform& platform, const char* body) {
    struct Call {
        bool done = false;
        std::string result;
    };
    // Shared with the answer, which may come after this has stopped waiting for it.
    const auto call = std::make_shared<Call>();
    webkit_web_view_call_async_javascript_function(
        platform.builtInPage.Widget(), body, -1, nullptr, nullptr, nullptr, nullptr,
        [](GObject* view, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<std::shared_ptr<Call>> call(
                static_cast<std::shared_ptr<Call>*>(data));
            JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                WEBKIT_WEB_VIEW(view), result, nullptr);
            if (value) {
                gchar* text = jsc_value_to_string(value);
                (*call)->result = text ? text : "";
                g_free(text);
                g_object_unref(value);
            }
            (*call)->done = true;
        },
        new std::shared_ptr<Call>(call));
    RunUntil(
        platform, [&] { return call->done; }, 10s);
    return call->result;
}

// The screen as it is, saved where the test runs (the test's output folder).
void SaveScreenshot(const char* name) {
    GdkWindow* root = gdk_get_default_root_window();
    GdkPixbuf* picture = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root),
                                                    gdk_window_get_height(root));
    ASSERT_TRUE(picture);
    EXPECT_TRUE(gdk_pixbuf_save(picture, name, "png", nullptr, nullptr));
    g_object_unref(picture);
}

// A service that fails the info request shows the built-in page on screen, not nothing; once
// the service is back, Try again brings the vendor's page, which cannot see the built-in page's
// channel.
TEST(StartFailureOnScreen, TheBuiltInPageShowsTheFailureAndTryAgainRecovers) {
    LoopbackServer service;
    std::atomic<bool> serviceBack{false};
    std::mutex eventsMutex;
    std::vector<std::string> events;
    const std::string* pageUrl = nullptr;
    std::string vendorPage;
    service.server.Get("/info", [&](const httplib::Request&, httplib::Response& response) {
        if (!serviceBack) {
            response.status = 500;
            response.set_content("<html>Internal Server Error</html>", "text/html");
            return;
        }
        response.set_content(R"({"code":200,"data":{"name":"Demo App","url1":")" + *pageUrl +
                                 R"("}})",
                             "application/json");
    });
    service.server.Get("/page", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(kVendorPage, "text/html");
    });
    service.server.Post("/log", [&](const httplib::Request& request, httplib::Response& response) {
        const std::lock_guard lock(eventsMutex);
        events.push_back(request.get_file_value("event").content);
        response.set_content(R"({"code":200})", "application/json");
    });
    service.server.set_keep_alive_max_count(1);
    service.Start();
    vendorPage = service.Url("/page");
    pageUrl = &vendorPage;

    TempFolder temp;
    std::ofstream(temp.path() / "config.ini") << "[root]\ndownloader_id=7\n";
    HostOptions options;
    options.configPath = temp.path() / "config.ini";
    options.infoEndpoint = service.Url("/info");
    options.logEndpoint = service.Url("/log");
    options.makeInstallId = [] { return std::wstring(L"GUITEST"); };

    auto platform = MakeGtkPlatform();
    ASSERT_TRUE(platform);
    CTarvikDlg host(platform->Roles(), options);
    platform->window.Create(host);
    host.OnInitDialog();

    ASSERT_TRUE(RunUntil(
        *platform, [&] { return platform->builtInPage.IsShown(); }, 15s));
    // The page gets its texts once its document has loaded, which a busy machine may take a
    // while to do: it is asked until it has them.
    std::string title;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (title != "This download is not available" &&
           std::chrono::steady_clock::now() < deadline) {
        RunFor(*platform, 100ms);
        title = RunInBuiltInPage(*platform, "return document.getElementById('title').textContent;");
    }
    // The service answered, with an error page: no advice to check the connection.
    EXPECT_EQ(title, "This download is not available");
    EXPECT_TRUE(platform->window.IsOnScreen());
    EXPECT_STREQ(gtk_stack_get_visible_child_name(platform->window.Content()), "built-in");
    RunFor(*platform, 300ms);
    SaveScreenshot("start_failure_built_in_page.png");

    serviceBack = true;
    // Pressed in the page, so the command goes through the page's own channel.
    RunInBuiltInPage(*platform, "document.getElementById('retry').click(); return 'clicked';");
    ASSERT_TRUE(RunUntil(
        *platform, [&] { return !platform->builtInPage.IsShown(); }, 15s));
    EXPECT_STREQ(gtk_stack_get_visible_child_name(platform->window.Content()), "page");
    EXPECT_EQ(platform->window.Bounds().Width(), 600);
    ASSERT_TRUE(RunUntil(
        *platform,
        [&] {
            const std::lock_guard lock(eventsMutex);
            return events.size() >= 3;
        },
        5s));
    const std::lock_guard lock(eventsMutex);
    EXPECT_EQ(events, (std::vector<std::string>{"6", "built-in channel hidden", "5"}));
}

} // namespace
} // namespace tarvik::testing
