#include "gui/gui_test_support.h"
#include "support/closed_port.h"
#include "support/loopback_server.h"
#include "support/temp_folder.h"
#include "support/tls_loopback.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <mutex>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;

// The page of the vendor's site as the host shows it: it answers each notice by echoing it back,
// so a round trip shows what the page's listener received.
constexpr char kEchoPage[] = R"(<!doctype html><html><body><script>
  const webview = window.chrome.webview;
  webview.addEventListener('message', (event) => {
    const data = event.data || {};
    if (data.go) { location.href = data.go; return; }
    if (data.open) { window.open(data.open); return; }
    if (data.blank) {
      const link = document.createElement('a');
      link.href = data.blank;
      link.target = '_blank';
      document.body.appendChild(link);
      link.click();
      return;
    }
    if (data.button) {
      const button = document.createElement('button');
      button.style = 'position:fixed;left:0;top:0;width:100%;height:100%';
      button.onclick = () => { webview.postMessage('clicked'); window.open(data.button); button.remove(); };
      document.body.appendChild(button);
      // Said once it has been laid out and painted, so that a click lands on it.
      requestAnimationFrame(() => requestAnimationFrame(() => webview.postMessage('button shown')));
      return;
    }
    if (data.form) {
      const form = document.createElement('form');
      form.action = data.form;
      form.method = 'get';
      document.body.appendChild(form);
      form.submit();
      return;
    }
    webview.postMessage('echo ' + typeof event.data + ' ' + JSON.stringify(event.data));
  });
  webview.postMessage('ready ' + location.port);
</script></body></html>)";

// Asks for everything a page could want from the desktop and reports what it got.
constexpr char kPermissionsPage[] = R"(<!doctype html><html><body><script>
  const report = (what, outcome) => window.chrome.webview.postMessage(what + ' ' + outcome);
  const settle = (what, promise) => promise.then(() => report(what, 'granted'),
                                                 (e) => report(what, 'refused'));
  settle('notifications', Notification.requestPermission().then(
      (p) => p === 'granted' ? p : Promise.reject(p)));
  settle('geolocation', new Promise((ok, no) => navigator.geolocation.getCurrentPosition(ok, no)));
  settle('camera', navigator.mediaDevices ? navigator.mediaDevices.getUserMedia({ video: true })
                                          : Promise.reject('absent'));
  settle('microphone', navigator.mediaDevices ? navigator.mediaDevices.getUserMedia({ audio: true })
                                              : Promise.reject('absent'));
  settle('clipboard', navigator.clipboard ? navigator.clipboard.readText()
                                          : Promise.reject('absent'));
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

void Serve(LoopbackServer& server, const std::string& path, const std::string& body) {
    server.server.Get(path, [body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "text/html");
    });
}

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (LoopbackServer* server : {&site, &otherSite}) {
            Serve(*server, "/page", kEchoPage);
            Serve(*server, "/page2", kEchoPage);
            Serve(*server, "/permissions", kPermissionsPage);
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
        platform->window.Present();
        bool ready = false;
        platform->webView.Create([&] { ready = true; });
        platform->webView.SetMessageHandler(
            [this](const std::string& text) { received.push_back(text); });
        platform->webView.SetExternalNavigationHandler(
            [this](const std::string& url) { leaving.push_back(url); });
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
    std::vector<std::string> leaving;
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

// Warming the view up for the page's origin runs in the view's first, empty document: the page
// that replaces it finds no history entry and no element of the host's, and speaks to the host.
TEST_F(WebViewTest, WarmingUpLeavesNothingThePageSees) {
    Serve(site, "/counts", R"(<!doctype html><html><head></head><body><script>
      window.chrome.webview.postMessage('history ' + history.length + ', links ' +
                                        document.getElementsByTagName('link').length);
    </script></body></html>)");
    platform->webView.WarmUp(site.Url("/counts"));
    platform->webView.Navigate(site.Url("/counts"));
    ASSERT_TRUE(Receives("history 1, links 0"));
    // Once the page is there, a late warm-up changes nothing in it either.
    platform->webView.WarmUp(otherSite.Url("/page"));
    platform->webView.Navigate(site.Url("/counts"));
    received.clear();
    ASSERT_TRUE(Receives("history 1, links 0"));
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

// Whatever the page does to leave, the window keeps showing it with a working bridge, nothing
// of another origin is shown and no second window opens; the targets go to the host instead.
TEST_F(WebViewTest, TheWindowStaysTheHostsPage) {
    platform->webView.Navigate(site.Url("/page"));
    ASSERT_TRUE(Receives(Ready(site)));
    const std::string page = site.Url("/page");
    const std::string foreign = otherSite.Url("/page");
    struct Case {
        std::string command;
        std::vector<std::string> leaving;
    };
    const Case cases[] = {
        {R"({"go":")" + foreign + R"("})", {foreign}},
        {R"({"form":")" + foreign + R"("})", {foreign + "?"}},
        {R"({"go":")" + site.Url("/to-other") + R"("})", {foreign}},
        {R"({"blank":")" + foreign + R"("})", {foreign}},
        {R"({"blank":")" + page + R"("})", {page}},
        {R"({"go":"file:///etc/passwd"})", {}},
    };
    WebKitWebView* view = platform->webView.Widget();
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        leaving.clear();
        platform->webView.PostJson(c.command);
        // Waits for the targets the host must hear of, then a while for any it must not.
        RunUntil(*platform, [&] { return leaving.size() >= c.leaving.size(); });
        RunFor(*platform, 300ms);
        EXPECT_EQ(leaving, c.leaving);
        EXPECT_EQ(std::string(webkit_web_view_get_uri(view)), page);
        EXPECT_TRUE(std::find(received.begin(), received.end(), Ready(otherSite)) ==
                    received.end());
        // The bridge still carries messages both ways.
        const std::string probe = R"({"n":)" + std::to_string(++round) + "}";
        platform->webView.PostJson(probe);
        EXPECT_TRUE(Receives("echo object " + probe));
    }

    // window.open needs the user's click; one on a button that calls it.
    leaving.clear();
    platform->window.SetBounds(platform::Rect{0, 0, 400, 300});
    platform->webView.PostJson(R"({"button":")" + foreign + R"("})");
    ASSERT_TRUE(Receives("button shown"));
    // A click the view was not ready for yet is lost; it is repeated until the page has seen
    // one (the button goes with the first).
    bool clicked = false;
    for (int attempt = 0; attempt < 20 && !clicked; ++attempt) {
        ASSERT_TRUE(RunCommand("xdotool mousemove 200 150 click 1"));
        clicked = Receives("clicked", 1s);
    }
    ASSERT_TRUE(clicked);
    ASSERT_TRUE(RunUntil(*platform, [&] { return !leaving.empty(); }));
    RunFor(*platform, 300ms);
    EXPECT_EQ(leaving, std::vector<std::string>{foreign});
    EXPECT_EQ(std::string(webkit_web_view_get_uri(view)), page);

    // Within its own origin the page may go where it likes, bridge included.
    received.clear();
    leaving.clear();
    platform->webView.PostJson(R"({"go":")" + site.Url("/page2") + R"("})");
    ASSERT_TRUE(Receives(Ready(site)));
    EXPECT_EQ(std::string(webkit_web_view_get_uri(view)), site.Url("/page2"));
    EXPECT_TRUE(leaving.empty());
}

TEST(ContextMenuTest, OnlyTheEditingActionsStay) {
    ASSERT_TRUE(MakeGtkPlatform());
    struct Case {
        std::vector<WebKitContextMenuAction> offered;
        bool inspecting;
        std::vector<WebKitContextMenuAction> kept;
    };
    const std::vector<WebKitContextMenuAction> mixed = {
        WEBKIT_CONTEXT_MENU_ACTION_GO_BACK,
        WEBKIT_CONTEXT_MENU_ACTION_COPY,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_PASTE,
        WEBKIT_CONTEXT_MENU_ACTION_RELOAD,
        WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT,
        WEBKIT_CONTEXT_MENU_ACTION_CUT,
        WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK};
    const Case cases[] = {
        {mixed,
         false,
         {WEBKIT_CONTEXT_MENU_ACTION_COPY, WEBKIT_CONTEXT_MENU_ACTION_PASTE,
          WEBKIT_CONTEXT_MENU_ACTION_CUT, WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL}},
        // With --inspect, "Inspect Element" stays for the vendor.
        {mixed,
         true,
         {WEBKIT_CONTEXT_MENU_ACTION_COPY, WEBKIT_CONTEXT_MENU_ACTION_PASTE,
          WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT, WEBKIT_CONTEXT_MENU_ACTION_CUT,
          WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL}},
        {{WEBKIT_CONTEXT_MENU_ACTION_GO_BACK, WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD,
          WEBKIT_CONTEXT_MENU_ACTION_STOP, WEBKIT_CONTEXT_MENU_ACTION_RELOAD},
         false,
         {}},
    };
    for (const Case& c : cases) {
        WebKitContextMenu* menu = webkit_context_menu_new();
        for (const WebKitContextMenuAction action : c.offered)
            webkit_context_menu_append(menu,
                                       webkit_context_menu_item_new_from_stock_action(action));
        webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
        const bool empty = platform::gtk::KeepEditingActionsOnly(menu, c.inspecting);
        std::vector<WebKitContextMenuAction> kept;
        for (GList* item = webkit_context_menu_get_items(menu); item; item = item->next)
            kept.push_back(webkit_context_menu_item_get_stock_action(
                static_cast<WebKitContextMenuItem*>(item->data)));
        EXPECT_EQ(kept, c.kept);
        EXPECT_EQ(empty, c.kept.empty());
        g_object_unref(menu);
    }
}

TEST_F(WebViewTest, PermissionRequestsAreRefusedWithoutAsking) {
    platform->webView.Navigate(site.Url("/permissions"));
    const std::vector<std::string> expected = {"camera refused", "clipboard refused",
                                               "geolocation refused", "microphone refused",
                                               "notifications refused"};
    ASSERT_TRUE(RunUntil(*platform, [&] { return received.size() >= expected.size(); }));
    RunFor(*platform, 200ms);
    std::vector<std::string> outcomes = received;
    std::sort(outcomes.begin(), outcomes.end());
    EXPECT_EQ(outcomes, expected);
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

// The host hears when its own page cannot be shown, and why: an HTTP error answer, a refused
// certificate (each cause told apart), or no connection. A good page, and a page of the site that
// fails after the host's page was shown, are no failure of the host's navigation.
TEST_F(WebViewTest, TheHostHearsWhenAndWhyItsOwnPageCannotBeLoaded) {
    site.server.Get("/gone", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_content("<p>not here</p>", "text/html");
    });
    site.server.Get("/broken", [](const httplib::Request&, httplib::Response& response) {
        response.status = 500;
        response.set_content("<p>broken</p>", "text/html");
    });
    using Kind = TestCertificates::Kind;
    TempFolder folder;
    const TestCertificates certificates(folder.path());
    std::vector<std::unique_ptr<TlsLoopbackServer>> secure;
    const auto serve = [&](Kind kind) {
        secure.push_back(std::make_unique<TlsLoopbackServer>(certificates.certificate(kind),
                                                             certificates.key()));
        secure.back()->server.Get("/page", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("<p>secure</p>", "text/html");
        });
        secure.back()->Start();
        return secure.back()->Url("/page");
    };
    using platform::LoadFailure;
    struct Case {
        std::string url;
        // What the host heard; nothing for a page that loads.
        std::vector<LoadFailure> heard;
    };
    const Case cases[] = {
        {site.Url("/gone"), {{404}}},
        {site.Url("/broken"), {{500}}},
        {RefusedLoopbackUrl("/page"), {{}}},
        {serve(Kind::Expired), {{0, CertificateProblem::Expired}}},
        {serve(Kind::OtherHost), {{0, CertificateProblem::WrongHost}}},
        {serve(Kind::SelfSigned), {{0, CertificateProblem::Untrusted}}},
        {site.Url("/page"), {}},
    };
    std::vector<LoadFailure> heard;
    platform->webView.SetLoadFailureHandler(
        [&](const LoadFailure& failure) { heard.push_back(failure); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        heard.clear();
        received.clear();
        platform->webView.Navigate(c.url);
        if (!c.heard.empty()) {
            EXPECT_TRUE(RunUntil(
                *platform, [&] { return !heard.empty(); }, 10s));
            RunFor(*platform, 200ms);
        } else {
            EXPECT_TRUE(Receives(Ready(site)));
        }
        EXPECT_EQ(heard, c.heard);
        // A good page between the cases: WebKit's last word on a failed load (its load-failed
        // after a refused certificate) can come late on a busy machine, and a next failing
        // navigation begun at once would take it for its own (seen in 3 of 6 runs at load 8).
        if (!c.heard.empty()) {
            received.clear();
            platform->webView.Navigate(site.Url("/page"));
            EXPECT_TRUE(Receives(Ready(site)));
        }
    }
}

// The page and the vendor's service see the user's languages, the list the host's own texts
// follow: in the request's Accept-Language and in navigator.languages. (A test process of its
// own, so the languages are set before its first web view, as in the program.)
TEST(WebViewLanguagesTest, ThePageAndItsServiceSeeTheUsersLanguages) {
    ASSERT_EQ(setenv("LANGUAGE", "de_DE:zh_CN", 1), 0);
    // Before the server, which may still be answering until it goes.
    std::mutex mutex;
    std::string acceptLanguage;
    LoopbackServer site;
    site.server.Get(
        "/languages", [&](const httplib::Request& request, httplib::Response& response) {
            {
                const std::lock_guard lock(mutex);
                acceptLanguage = request.get_header_value("Accept-Language");
            }
            response.set_content("<!doctype html><script>window.chrome.webview.postMessage("
                                 "'languages ' + navigator.languages.join(','))</script>",
                                 "text/html");
        });
    site.server.set_keep_alive_max_count(1);
    site.Start();

    auto platform = MakeGtkPlatform();
    ASSERT_TRUE(platform);
    RecordingHost host;
    platform->window.Create(host);
    platform->window.MoveTo(platform::Point{-10000, 0});
    platform->window.Present();
    bool ready = false;
    std::vector<std::string> received;
    platform->webView.Create([&] { ready = true; });
    platform->webView.SetMessageHandler([&](const std::string& text) { received.push_back(text); });
    ASSERT_TRUE(RunUntil(*platform, [&] { return ready; }));
    platform->webView.Navigate(site.Url("/languages"));
    ASSERT_TRUE(RunUntil(*platform, [&] { return !received.empty(); }));

    // WebKit shows the page the most preferred language only (fewer traits to fingerprint).
    EXPECT_EQ(received.front(), "languages de-DE");
    const std::lock_guard lock(mutex);
    EXPECT_EQ(acceptLanguage, "de-DE,de;q=0.90,zh-CN;q=0.80,zh;q=0.70");
    unsetenv("LANGUAGE");
}

// --inspect: the developer extras are on and the inspector opens once the page is committed;
// without it neither.
TEST(WebViewInspectorTest, OpensBesideThePageOnlyWhenAsked) {
    LoopbackServer site;
    Serve(site, "/page",
          "<!doctype html><script>window.chrome.webview.postMessage('ready')</script>");
    site.server.set_keep_alive_max_count(1);
    site.Start();
    for (const bool inspect : {false, true}) {
        SCOPED_TRACE(inspect ? "--inspect" : "default");
        auto platform = MakeGtkPlatform();
        ASSERT_TRUE(platform);
        RecordingHost host;
        platform->window.Create(host);
        platform->window.MoveTo(platform::Point{-10000, 0});
        platform->window.Present();
        platform->webView.ShowInspector(inspect);
        bool ready = false;
        std::vector<std::string> received;
        platform->webView.Create([&] { ready = true; });
        platform->webView.SetMessageHandler(
            [&](const std::string& text) { received.push_back(text); });
        ASSERT_TRUE(RunUntil(*platform, [&] { return ready; }));
        platform->webView.Navigate(site.Url("/page"));
        ASSERT_TRUE(RunUntil(*platform, [&] { return !received.empty(); }));
        WebKitWebView* view = platform->webView.Widget();
        WebKitWebInspector* inspector = webkit_web_view_get_inspector(view);
        EXPECT_EQ(webkit_settings_get_enable_developer_extras(webkit_web_view_get_settings(view)),
                  inspect);
        EXPECT_EQ(RunUntil(
                      *platform,
                      [&] { return webkit_web_inspector_get_web_view(inspector) != nullptr; },
                      inspect ? 10s : 1s),
                  inspect);
    }
}

} // namespace
} // namespace tarvik::testing
