// The Windows web view (platform/win32/web_view.cpp) on the stand-in runtime, in a real window on
// a virtual X server under Wine: what it asks of the runtime, the origin lock, notices, the way
// out to the desktop, load failures, failures of the runtime itself, and what covers what.
#include "platform/win32/win32_platform.h"
#include "tests/win32/stand_in/stand_in_runtime.h"

#include <gtest/gtest.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarvik::platform::win32 {
namespace {

using tests::stand_in::Control;

constexpr int kCannotConnect = 12; // COREWEBVIEW2_WEB_ERROR_STATUS_CANNOT_CONNECT
constexpr int kAborted = 9;        // COREWEBVIEW2_WEB_ERROR_STATUS_CONNECTION_ABORTED
constexpr int kCancelled = 14;     // COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED

std::filesystem::path StandInFolder() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::weakly_canonical(std::filesystem::path(self).parent_path() /
                                             TARVIK_STAND_IN_FROM_TEST);
}

// The stand-in's control, from the same library the web view loads.
Control& StandIn() {
    static Control* control = [] {
        const std::filesystem::path library =
            StandInFolder() / "EBWebView" / "x64" / "EmbeddedBrowserWebView.dll";
        const HMODULE module = ::LoadLibraryW(library.c_str());
        const auto function =
            module ? reinterpret_cast<tests::stand_in::ControlFunction>(reinterpret_cast<void*>(
                         ::GetProcAddress(module, tests::stand_in::kControlExport)))
                   : nullptr;
        return function ? function() : nullptr;
    }();
    if (!control)
        throw std::runtime_error("the stand-in runtime did not load");
    return *control;
}

std::vector<std::wstring> Records() {
    std::vector<std::wstring> records;
    for (size_t i = 0; i < StandIn().RecordCount(); ++i)
        records.emplace_back(StandIn().Record(i));
    return records;
}

std::vector<std::wstring> TakeRecords() {
    std::vector<std::wstring> records = Records();
    StandIn().ClearRecords();
    return records;
}

// Handles what is queued until `done` holds, for at most 5 s.
bool PumpUntil(const std::function<bool()>& done) {
    const ULONGLONG end = ::GetTickCount64() + 5000;
    while (!done()) {
        if (::GetTickCount64() > end)
            return false;
        MSG msg{};
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

// Handles everything queued so far (and what that queues in turn), so that a test can tell that
// something did not happen.
void PumpQueued() {
    // One more round than anything the view queues from a handled message.
    for (int round = 0; round < 3; ++round) {
        MSG msg{};
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

std::wstring UserDataFolder() {
    PWSTR local = nullptr;
    ::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &local);
    std::wstring folder = std::wstring(local ? local : L"") + L"\\Tarvik\\WebView2";
    ::CoTaskMemFree(local);
    return folder;
}

class NoHost final : public WindowEvents {
public:
    void OnHostMessage(const HostMessage&) override {}
};

// What the web view handed the host, in order.
struct Heard {
    std::vector<std::string> events;
    bool ready = false;
};

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The vendor's fixed runtime is the stand-in, found by the program's own search.
        ::SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", StandInFolder().c_str());
        StandIn().Reset();
        platform.window.Create(noHost);
        platform.window.SetBounds({0, 0, 640, 480});
        platform.window.Show(ShowCommand::Normal);
    }
    void TearDown() override {
        platform.window.Destroy();
        StandIn().Reset();
    }

    // Creates the view, connects its handlers as the host does, and waits until it is ready.
    void Create() {
        platform.webView.Create([this] {
            heard.ready = true;
            heard.events.push_back("ready");
        });
        platform.webView.SetMessageHandler(
            [this](const std::string& text) { heard.events.push_back("message " + text); });
        platform.webView.SetExternalNavigationHandler(
            [this](const std::string& url) { heard.events.push_back("leave " + url); });
        platform.webView.SetLoadFailureHandler(
            [this](const platform::LoadFailure&) { heard.events.push_back("load failed"); });
        ASSERT_TRUE(PumpUntil([this] { return heard.ready; }));
    }

    // The host's page, loaded as the runtime does: started, redirected, committed, completed.
    void LoadHostPage() {
        platform.webView.Navigate("https://vendor.example/start");
        PumpQueued();
        bool cancelled = false;
        const uint64_t id =
            StandIn().StartNavigation(L"https://vendor.example/start", false, false, 0, &cancelled);
        StandIn().StartNavigation(L"https://www.vendor.example/page", false, true, id, &cancelled);
        ASSERT_FALSE(cancelled);
        StandIn().Commit(L"https://www.vendor.example/page");
        StandIn().Complete(id, true, 0, 200);
        PumpQueued();
    }

    std::vector<std::string> TakeHeard() {
        std::vector<std::string> events = std::move(heard.events);
        heard.events.clear();
        return events;
    }

    NoHost noHost;
    Win32Platform platform;
    Heard heard;
};

TEST_F(WebViewTest, MadeWithoutALoaderOfferingThePageOnly) {
    Create();
    RECT client{};
    ::GetClientRect(platform.window.Handle(), &client);
    const std::wstring bounds =
        L"bounds 0 0 " + std::to_wstring(client.right) + L" " + std::to_wstring(client.bottom);
    EXPECT_EQ(TakeRecords(), (std::vector<std::wstring>{
                                 L"environment 1 1 " + UserDataFolder(),
                                 L"controller",
                                 L"settings AreDevToolsEnabled 0",
                                 L"settings AreDefaultContextMenusEnabled 0",
                                 L"settings IsStatusBarEnabled 0",
                                 L"settings IsZoomControlEnabled 0",
                                 L"settings AreHostObjectsAllowed 0",
                                 L"settings AreBrowserAcceleratorKeysEnabled 0",
                                 bounds,
                                 L"visible 1",
                             }));
    EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"ready"}));
    LoadHostPage();
    EXPECT_EQ(TakeRecords(), (std::vector<std::wstring>{L"navigate https://vendor.example/start"}));
    EXPECT_EQ(TakeHeard(), (std::vector<std::string>{}));
}

// Messages count from the top document only while it is the host's page, by the origin the host's
// navigation ended at; and the host hears them from the loop, never inside the runtime's handler.
TEST_F(WebViewTest, MessagesCountOnlyFromTheHostsPageAndArriveFromTheLoop) {
    Create();
    TakeHeard();
    // Before the host's page has committed, nothing counts, not even from its future origin.
    platform.webView.Navigate("https://vendor.example/start");
    PumpQueued();
    StandIn().Message(L"https://www.vendor.example/page", L"{\"msg_type\":\"early\"}");
    PumpQueued();
    EXPECT_EQ(TakeHeard(), (std::vector<std::string>{}));
    LoadHostPage();
    struct Case {
        const wchar_t* source;
        const wchar_t* text;
        std::vector<std::string> heard;
    };
    const std::vector<Case> cases = {
        {L"https://www.vendor.example/page",
         L"{\"msg_type\":\"a\"}",
         {"message {\"msg_type\":\"a\"}"}},
        {L"https://www.vendor.example/other?x#y", L"b", {"message b"}},
        // Not a string: empty text, which the host reads as a malformed command.
        {L"https://www.vendor.example/page", nullptr, {"message "}},
        {L"https://vendor.example/start", L"c", {}},
        {L"http://www.vendor.example/page", L"d", {}},
        {L"https://www.vendor.example:8443/page", L"e", {}},
        {L"https://evil.example/", L"f", {}},
        {L"about:blank", L"g", {}},
    };
    for (const Case& c : cases) {
        StandIn().Message(c.source, c.text);
        // Not yet: the runtime's handler only queues it.
        EXPECT_EQ(heard.events, std::vector<std::string>{});
        PumpQueued();
        EXPECT_EQ(TakeHeard(), c.heard) << std::filesystem::path(c.source).string();
    }
}

TEST_F(WebViewTest, NoticesReachOnlyTheHostsPage) {
    Create();
    // No page yet.
    platform.webView.PostJson("{\"msg_type\":\"none\"}");
    LoadHostPage();
    TakeRecords();
    platform.webView.PostJson("{\"msg_type\":\"dnld_progress\",\"text\":\"</script>\"}");
    EXPECT_EQ(TakeRecords(), (std::vector<std::wstring>{
                                 L"post {\"msg_type\":\"dnld_progress\",\"text\":\"</script>\"}"}));
    // The view shows another site's document (the runtime's own navigation past the host).
    StandIn().Commit(L"https://evil.example/");
    platform.webView.PostJson("{\"msg_type\":\"secret\"}");
    EXPECT_EQ(TakeRecords(), (std::vector<std::wstring>{}));
    // The host navigates again: until the new page commits, nothing is posted.
    platform.webView.Navigate("https://vendor.example/start");
    TakeRecords();
    platform.webView.PostJson("{\"msg_type\":\"between\"}");
    EXPECT_EQ(TakeRecords(), (std::vector<std::wstring>{}));
    // It fails, and the runtime shows its error page at the address that failed: no page of the
    // host's, for notices or messages.
    TakeHeard();
    const uint64_t id =
        StandIn().StartNavigation(L"https://vendor.example/start", false, false, 0, nullptr);
    StandIn().Commit(L"https://vendor.example/start", true);
    StandIn().Complete(id, false, kCannotConnect, 0);
    platform.webView.PostJson("{\"msg_type\":\"after\"}");
    StandIn().Message(L"https://vendor.example/start", L"from the error page");
    PumpQueued();
    EXPECT_EQ(TakeRecords(), (std::vector<std::wstring>{}));
    EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"load failed"}));
}

// The host's navigation may be redirected, also to another origin: the page is the document it
// ends at, and that origin alone may send commands and receive notices.
TEST_F(WebViewTest, TheOriginIsTakenWhereTheHostsNavigationEnded) {
    Create();
    struct Case {
        const wchar_t* endsAt;
        std::vector<std::string> heard;
    };
    const std::vector<Case> cases = {
        {L"https://vendor.example/page", {"message from vendor.example/page"}},
        {L"https://www.vendor.example/page", {"message from www.vendor.example/page"}},
    };
    for (const Case& c : cases) {
        const std::string endsAt = std::filesystem::path(c.endsAt).string();
        SCOPED_TRACE(endsAt);
        platform.webView.Navigate("https://vendor.example/start");
        PumpQueued();
        const uint64_t id =
            StandIn().StartNavigation(L"https://vendor.example/start", false, false, 0, nullptr);
        StandIn().StartNavigation(c.endsAt, false, true, id, nullptr);
        StandIn().Commit(c.endsAt);
        StandIn().Complete(id, true, 0, 200);
        PumpQueued();
        TakeHeard();
        TakeRecords();
        for (const wchar_t* source :
             {L"https://vendor.example/page", L"https://www.vendor.example/page"}) {
            const std::wstring from = source;
            StandIn().Message(source, (L"from " + from.substr(from.find(L"//") + 2)).c_str());
        }
        PumpQueued();
        EXPECT_EQ(TakeHeard(), c.heard);
        platform.webView.PostJson("{\"n\":1}");
        EXPECT_EQ(TakeRecords(), (std::vector<std::wstring>{L"post {\"n\":1}"}));
    }
}

// An address without an origin is no page of the host's: nothing is loaded, and the notices that
// follow reach no document.
TEST_F(WebViewTest, EmptyOrInvalidAddressesLoadNothing) {
    Create();
    TakeHeard();
    TakeRecords();
    for (const char* url : {"", "not an address", "http://"}) {
        SCOPED_TRACE(url);
        platform.webView.Navigate(url);
        PumpQueued();
        StandIn().Commit(L"about:blank");
        platform.webView.PostJson("{\"n\":3}");
        PumpQueued();
        EXPECT_EQ(TakeRecords(), (std::vector<std::wstring>{}));
        EXPECT_EQ(TakeHeard(), (std::vector<std::string>{}));
    }
}

// A navigation to another origin is cancelled and goes to the desktop; so does a window the user
// asked for. A window a script opens by itself goes nowhere. The runtime never opens a window.
TEST_F(WebViewTest, ForeignNavigationsAndWindowsTheUserAskedForGoToTheDesktop) {
    Create();
    LoadHostPage();
    TakeHeard();
    struct Case {
        const char* name;
        bool newWindow;
        const wchar_t* uri;
        bool userInitiated;
        bool cancelledOrHandled;
        std::vector<std::string> heard;
        // Where the navigation is redirected, for one of the page's own origin that a server
        // sends elsewhere.
        const wchar_t* redirect = nullptr;
    };
    const std::vector<Case> cases = {
        {"a link to another site",
         false,
         L"https://docs.example/help",
         true,
         true,
         {"leave https://docs.example/help"}},
        {"a script moving to another site",
         false,
         L"https://ads.example/",
         false,
         true,
         {"leave https://ads.example/"}},
        {"within the page's origin", false, L"https://www.vendor.example/next", true, false, {}},
        {"within the page's origin, redirected to another site",
         false,
         L"https://www.vendor.example/to-other",
         true,
         true,
         {"leave https://docs.example/moved"},
         L"https://docs.example/moved"},
        {"window.open on a click",
         true,
         L"https://docs.example/",
         true,
         true,
         {"leave https://docs.example/"}},
        {"window.open by a script alone", true, L"https://popup.example/", false, true, {}},
        {"a new window of the page's own origin",
         true,
         L"https://www.vendor.example/x",
         true,
         true,
         {"leave https://www.vendor.example/x"}},
    };
    for (const Case& c : cases) {
        bool result = false;
        if (c.newWindow) {
            result = StandIn().NewWindow(c.uri, c.userInitiated);
        } else {
            const uint64_t id =
                StandIn().StartNavigation(c.uri, c.userInitiated, false, 0, &result);
            if (c.redirect) {
                EXPECT_FALSE(result) << c.name << ": the first leg stays";
                StandIn().StartNavigation(c.redirect, c.userInitiated, true, id, &result);
            }
        }
        EXPECT_EQ(result, c.cancelledOrHandled) << c.name;
        EXPECT_EQ(heard.events, std::vector<std::string>{}) << c.name << ": not from the handler";
        PumpQueued();
        EXPECT_EQ(TakeHeard(), c.heard) << c.name;
    }
}

// The decision itself is host_navigation_test's; here that it reaches the host, from the loop.
TEST_F(WebViewTest, TheHostHearsOfItsOwnFailedLoadFromTheLoop) {
    Create();
    TakeHeard();
    struct Case {
        const char* name;
        bool success;
        int error;
        int status;
        std::vector<std::string> heard;
    };
    const std::vector<Case> cases = {
        {"no connection", false, kCannotConnect, 0, {"load failed"}},
        {"a 503 page", true, 0, 503, {"load failed"}},
        {"loaded", true, 0, 200, {}},
        {"window.stop() after the answer", false, kAborted, 200, {}},
        {"cancelled by another navigation", false, kCancelled, 0, {}},
    };
    for (const Case& c : cases) {
        platform.webView.Navigate("https://vendor.example/start");
        PumpQueued();
        const uint64_t id =
            StandIn().StartNavigation(L"https://vendor.example/start", false, false, 0, nullptr);
        StandIn().Complete(id, c.success, c.error, c.status);
        EXPECT_EQ(heard.events, std::vector<std::string>{}) << c.name;
        PumpQueued();
        EXPECT_EQ(TakeHeard(), c.heard) << c.name;
    }
}

TEST_F(WebViewTest, PermissionRequestsAreRefusedWithoutAsking) {
    Create();
    LoadHostPage();
    constexpr int kDeny = 2;
    // Microphone, camera, location, notifications, other sensors, clipboard.
    for (int kind = 1; kind <= 6; ++kind)
        EXPECT_EQ(StandIn().Permission(kind, L"https://www.vendor.example/page"), kDeny) << kind;
}

// Every way the view can fail to be made: the host is told it is there, its navigation makes it
// again, a second failure is that navigation's failed load, and the next navigation (the host's
// "Try again") makes it once more, this time with success.
TEST_F(WebViewTest, AFailedCreationIsAFailedLoadAndNavigatingAgainMakesItAgain) {
    struct Case {
        const char* name;
        std::function<void()> failOnce;
    };
    const std::vector<Case> cases = {
        {"the entry point refuses at once",
         [] { StandIn().FailNextEnvironment(E_ACCESSDENIED, S_OK); }},
        {"the environment fails later", [] { StandIn().FailNextEnvironment(S_OK, E_FAIL); }},
        {"the controller fails", [] { StandIn().FailNextController(E_ABORT); }},
        {"the controller has no view", [] { StandIn().FailNextWebView(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Win32Platform local;
        local.window.Create(noHost);
        StandIn().Reset();
        Heard localHeard;
        c.failOnce();
        local.webView.Create([&] {
            localHeard.ready = true;
            localHeard.events.push_back("ready");
        });
        local.webView.SetLoadFailureHandler(
            [&](const platform::LoadFailure&) { localHeard.events.push_back("load failed"); });
        ASSERT_TRUE(PumpUntil([&] { return localHeard.ready; }));
        EXPECT_FALSE(StandIn().HasView());
        // The host's navigation makes it again; it fails again.
        c.failOnce();
        local.webView.Navigate("https://vendor.example/start");
        ASSERT_TRUE(PumpUntil([&] { return localHeard.events.size() == 2; }));
        PumpQueued();
        EXPECT_EQ(localHeard.events, (std::vector<std::string>{"ready", "load failed"}));
        EXPECT_EQ(StandIn().Creations(), 2);
        // Try again: made, and the page asked for.
        StandIn().ClearRecords();
        local.webView.Navigate("https://vendor.example/start");
        ASSERT_TRUE(PumpUntil([] { return StandIn().HasView() && StandIn().RecordCount() > 0; }));
        PumpQueued();
        const std::vector<std::wstring> records = Records();
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.back(), L"navigate https://vendor.example/start");
        EXPECT_EQ(StandIn().Creations(), 3);
        EXPECT_EQ(localHeard.events, (std::vector<std::string>{"ready", "load failed"}));
        local.window.Destroy();
    }
}

TEST_F(WebViewTest, ABrowserProcessGoneMakesTheViewAgainAndARendererGoneReloads) {
    Create();
    LoadHostPage();
    TakeRecords();
    constexpr int kRenderProcessExited = 1;
    constexpr int kRenderProcessUnresponsive = 2;
    constexpr int kBrowserProcessExited = 0;
    for (const int kind : {kRenderProcessExited, kRenderProcessUnresponsive}) {
        StandIn().ProcessFailed(kind);
        EXPECT_EQ(Records(), std::vector<std::wstring>{}) << "not from the handler";
        PumpQueued();
        EXPECT_EQ(TakeRecords(), std::vector<std::wstring>{L"reload"}) << kind;
    }
    StandIn().ProcessFailed(kBrowserProcessExited);
    ASSERT_TRUE(PumpUntil([] {
        const std::vector<std::wstring> records = Records();
        return !records.empty() && records.back().rfind(L"navigate ", 0) == 0;
    }));
    const std::vector<std::wstring> records = TakeRecords();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records.front(), L"close");
    EXPECT_EQ(records[1], L"environment 1 1 " + UserDataFolder());
    EXPECT_EQ(records.back(), L"navigate https://vendor.example/start");
    EXPECT_EQ(StandIn().Creations(), 2);
    // The new view is the host's page again once it commits: its messages count.
    bool cancelled = false;
    const uint64_t id =
        StandIn().StartNavigation(L"https://vendor.example/start", false, false, 0, &cancelled);
    StandIn().Commit(L"https://www.vendor.example/page");
    StandIn().Complete(id, true, 0, 200);
    StandIn().Message(L"https://www.vendor.example/page", L"again");
    PumpQueued();
    EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"ready", "message again"}));
}

// The built-in page in place of the view: the view's window is hidden, also when the page was
// shown before the view existed, and comes back when the page goes.
TEST_F(WebViewTest, TheBuiltInPageCoversTheViewAlsoBeforeTheViewExists) {
    platform.builtInPage.Show("{\"state\":\"connecting\"}");
    Create();
    const HWND view = StandIn().ViewWindow();
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(::IsWindowVisible(view));
    EXPECT_TRUE(::IsWindowVisible(platform.builtInPage.Handle()));
    std::vector<std::wstring> visibility;
    for (const std::wstring& record : TakeRecords())
        if (record.rfind(L"visible", 0) == 0)
            visibility.push_back(record);
    EXPECT_EQ(visibility, std::vector<std::wstring>{L"visible 0"});
    platform.builtInPage.Hide();
    EXPECT_TRUE(::IsWindowVisible(view));
    EXPECT_FALSE(::IsWindowVisible(platform.builtInPage.Handle()));
    platform.builtInPage.Show("{\"state\":\"page\"}");
    EXPECT_FALSE(::IsWindowVisible(view));
    // Above the view's window, and clipped against it.
    EXPECT_TRUE(::GetWindowLongW(platform.builtInPage.Handle(), GWL_STYLE) & WS_CLIPSIBLINGS);
    EXPECT_EQ(::GetWindow(platform.window.Handle(), GW_CHILD), platform.builtInPage.Handle());
}

TEST_F(WebViewTest, FocusAndMovesOfTheWindowReachTheView) {
    Create();
    TakeRecords();
    ::SetFocus(nullptr);
    ::SetFocus(platform.window.Handle());
    EXPECT_EQ(TakeRecords(), std::vector<std::wstring>{L"focus 0"});
    EXPECT_EQ(::GetFocus(), StandIn().ViewWindow());
    platform.window.MoveTo({40, 30});
    EXPECT_EQ(TakeRecords(), std::vector<std::wstring>{L"moved"});
    // Hidden behind the built-in page, the view does not take the focus; the page's button does.
    platform.builtInPage.Show("{\"state\":\"page\",\"retry\":\"Try again\"}");
    TakeRecords();
    ::SetFocus(nullptr);
    ::SetFocus(platform.window.Handle());
    EXPECT_EQ(TakeRecords(), std::vector<std::wstring>{});
    EXPECT_EQ(::GetParent(::GetFocus()), platform.builtInPage.Handle());
}

} // namespace
} // namespace tarvik::platform::win32
