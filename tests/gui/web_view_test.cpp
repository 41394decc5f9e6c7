#include "gui/gui_test_support.h"
#include "support/loopback_server.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;

// The page of the vendor's site as the host shows it: it answers each notice by echoing it back,
// so a round trip shows what the page's listener received.
constexpr char kEchoPage[] = R"(<!doctype html><html><body><script>
  const webview = window.chrome.webview;
  webview.addEventListener('message', (event) => {
    if (event.data && event.data.go) { location.href = event.data.go; return; }
    webview.postMessage('echo ' + typeof event.data + ' ' + JSON.stringify(event.data));
  });
  webview.postMessage('ready ' + location.port);
</script></body></html>)";

// Posts through every way a page could try to reach the host; only the last is the real one.
constexpr char kForgingPage[] = R"(<!doctype html><html><body><script>
  const channel = window.webkit.messageHandlers.tarvikBridge;
  channel.postMessage('forged');
  channel.postMessage('00000000000000000000000000000000:forged');
  channel.postMessage({ text: 'forged' });
  window.chrome.webview.postMessage('done');
</script></body></html>)";

constexpr char kNonStringPage[] = R"(<!doctype html><html><body><script>
  window.chrome.webview.postMessage({ cmd: 'close' });
  window.chrome.webview.postMessage(42);
  window.chrome.webview.postMessage(null);
  window.chrome.webview.postMessage('done');
</script></body></html>)";

// A zero byte inside a message is part of it: the host must get the whole text, to judge it.
constexpr char kZeroBytePage[] = R"(<!doctype html><html><body><script>
  window.chrome.webview.postMessage('{"msg_type":"minimize"}\u0000garbage \u00e9');
  window.chrome.webview.postMessage('done');
</script></body></html>)";

// A frame from another site: it has no bridge of its own and cannot reach the top frame's.
constexpr char kForeignFrame[] = R"(<!doctype html><html><body><script>
  try { window.webkit.messageHandlers.tarvikBridge.postMessage('from frame'); } catch (e) {}
  try { window.chrome.webview.postMessage('from frame'); } catch (e) {}
  try { window.top.chrome.webview.postMessage('from frame'); } catch (e) {}
</script></body></html>)";

std::string FramingPage(const std::string& frameUrl) {
    return "<!doctype html><html><body><iframe src='" + frameUrl +
           "' onload=\"setTimeout(() => window.chrome.webview.postMessage('frame loaded'), "
           "100)\"></iframe></body></html>";
}

void Serve(LoopbackServer& server, const std::string& path, std::string body) {
    server.server.Get(path, [body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "text/html");
    });
}

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (LoopbackServer* server : {&site, &otherSite}) {
            Serve(*server, "/page", kEchoPage);
            Serve(*server, "/forging", kForgingPage);
            Serve(*server, "/nonstring", kNonStringPage);
            Serve(*server, "/zero", kZeroBytePage);
            Serve(*server, "/frame", kForeignFrame);
            // One request per connection: the browser's idle keep-alive connections would
            // otherwise hold each server's shutdown for seconds.
            server->server.set_keep_alive_max_count(1);
            server->Start();
        }
        Serve(site, "/framed", FramingPage(otherSite.Url("/frame")));
        const std::string other = otherSite.Url("/page");
        site.server.Get("/to-same", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/page");
        });
        site.server.Get("/to-other", [other](const httplib::Request&, httplib::Response& response) {
            response.set_redirect(other);
        });

        platform = MakeGtkPlatform();
        ASSERT_TRUE(platform);
        platform->window.Create(host);
        platform->window.MoveTo(platform::Point{-10000, 0});
        bool ready = false;
        platform->webView.Create([&] { ready = true; });
        platform->webView.SetMessageHandler(
            [this](const std::string& text) { received.push_back(text); });
        ASSERT_TRUE(RunUntil(*platform, [&] { return ready; }));
    }

    bool Receives(const std::string& text, std::chrono::milliseconds timeout = 10s) {
        return RunUntil(
            *platform,
            [&] { return std::find(received.begin(), received.end(), text) != received.end(); },
            timeout);
    }

    std::string Ready(const LoopbackServer& server) {
        return "ready " + std::to_string(server.port());
    }

    LoopbackServer site;
    LoopbackServer otherSite;
    std::unique_ptr<platform::gtk::GtkPlatform> platform;
    RecordingHost host;
    std::vector<std::string> received;
};

TEST_F(WebViewTest, PageMessagesAndNoticesMakeTheRoundTrip) {
    platform->webView.Navigate(site.Url("/page"));
    ASSERT_TRUE(Receives(Ready(site)));

    platform->webView.PostJson(R"({"event":"dnld_progress","percent":"25.0","n":[1,2]})");
    ASSERT_TRUE(Receives(R"(echo object {"event":"dnld_progress","percent":"25.0","n":[1,2]})"));

    // Text that would break out of a script if it were spliced into one arrives as data.
    platform->webView.PostJson(R"({"text":"'); window.chrome.webview.postMessage('x"})");
    ASSERT_TRUE(Receives(R"(echo object {"text":"'); window.chrome.webview.postMessage('x"})"));
    EXPECT_EQ(std::count(received.begin(), received.end(), "x"), 0);
}

TEST_F(WebViewTest, OnlyTheTopFramesOwnMessagesArrive) {
    struct Case {
        const char* path;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"/forging", {"done"}},
        {"/nonstring", {"", "", "", "done"}},
        {"/zero", {std::string("{\"msg_type\":\"minimize\"}\0garbage \xC3\xA9", 34), "done"}},
        {"/framed", {"frame loaded"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        received.clear();
        platform->webView.Navigate(site.Url(c.path));
        ASSERT_TRUE(Receives(c.expected.back()));
        // Late stragglers would show up here.
        RunFor(*platform, 300ms);
        EXPECT_EQ(received, c.expected);
    }
}

TEST_F(WebViewTest, MessagesStopWhenTheTopFrameLeavesForAnotherOrigin) {
    platform->webView.Navigate(site.Url("/page"));
    ASSERT_TRUE(Receives(Ready(site)));

    // The page follows a link to another site, which has the bridge as well.
    const std::string foreign = otherSite.Url("/page");
    platform->webView.PostJson(R"({"go":")" + foreign + R"("})");
    WebKitWebView* view = platform->webView.Widget();
    ASSERT_TRUE(RunUntil(*platform, [&] {
        const char* uri = webkit_web_view_get_uri(view);
        return uri && foreign == uri && !webkit_web_view_is_loading(view);
    }));
    RunFor(*platform, 500ms);
    EXPECT_TRUE(std::find(received.begin(), received.end(), Ready(otherSite)) == received.end());

    // Back on the host's own origin, messages are accepted again.
    platform->webView.PostJson(R"({"n":1})");
    RunFor(*platform, 300ms);
    received.clear();
    platform->webView.Navigate(site.Url("/page"));
    ASSERT_TRUE(Receives(Ready(site)));
}

TEST_F(WebViewTest, TheOriginIsTakenWhereTheHostsNavigationEnded) {
    struct Case {
        const char* path;
        const LoopbackServer* endsAt;
    };
    for (const Case& c : {Case{"/to-same", &site}, Case{"/to-other", &otherSite}}) {
        SCOPED_TRACE(c.path);
        received.clear();
        platform->webView.Navigate(site.Url(c.path));
        ASSERT_TRUE(Receives(Ready(*c.endsAt)));
        platform->webView.PostJson(R"({"n":2})");
        ASSERT_TRUE(Receives(R"(echo object {"n":2})"));
    }
}

TEST_F(WebViewTest, EmptyOrInvalidAddressesLoadNothing) {
    for (const char* url : {"", "not an address", "http://"}) {
        platform->webView.Navigate(url);
        RunFor(*platform, 100ms);
        const char* uri = webkit_web_view_get_uri(platform->webView.Widget());
        EXPECT_EQ(uri, nullptr) << url << " loaded " << uri;
    }
    // Notices to a page that is not there are dropped.
    platform->webView.PostJson(R"({"n":3})");
    RunFor(*platform, 100ms);
    EXPECT_TRUE(received.empty());
}

} // namespace
} // namespace tarvik::testing
