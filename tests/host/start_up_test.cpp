#include "host_fixture.h"

#include "common/event_codes.h"
#include "support/closed_port.h"
#if defined(CPPHTTPLIB_OPENSSL_SUPPORT) && !defined(_WIN32)
#include "support/tls_loopback.h"
#endif

#include <nlohmann/json.hpp>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <thread>

namespace tarvik::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr char kPage[] = "https://vendor.example/page";
constexpr char kGoodAnswer[] =
    R"({"code":200,"data":{"name":"Demo App","url1":"https://vendor.example/page"}})";
constexpr char kResize[] = R"({"msg_type":"resize_window","msg_data":{"width":600,"height":400}})";

// What the user and the service can see of the start.
struct Observed {
    std::vector<std::string> navigations;
    std::string title;
    bool onScreen = false;
    // The built-in page's state while it is shown, with a failure's title and details line;
    // empty when the vendor's view shows.
    std::string builtIn;
    std::vector<std::string> events;
    bool operator==(const Observed&) const = default;
};

void PrintTo(const Observed& o, std::ostream* out) {
    *out << "{navigations=[";
    for (const auto& n : o.navigations)
        *out << n << " ";
    *out << "] title=" << o.title << " onScreen=" << o.onScreen << " builtIn=" << o.builtIn
         << " events=[";
    for (const auto& e : o.events)
        *out << e << " ";
    *out << "]}";
}

class StartUpTest : public HostFixture {
protected:
    // The host up to its first loop turn, the web view not ready yet.
    void Begin() {
        host = std::make_unique<CTarvikDlg>(platform.Roles(), options);
        platform.window.Create(*host);
        host->OnInitDialog();
    }
    void AwaitAnswer() {
        ASSERT_TRUE(platform.window.PumpUntil([this] { return host->infoAnswered(); },
                                              milliseconds(20'000)));
    }
    Observed Observe() {
        Observed o;
        o.navigations = platform.webView.navigations;
        o.title = platform.window.title;
        o.onScreen = platform.window.shown;
        if (platform.builtInPage.shown) {
            const auto shown = nlohmann::json::parse(platform.builtInPage.shownWith.back());
            const std::string state = shown["state"];
            o.builtIn = state;
            // A failure with its own title and the details line for support.
            if (state != "connecting")
                o.builtIn += ": " + shown[state + "_title"].get<std::string>() + " | " +
                             shown.value("details", "");
        }
        o.events = Events();
        return o;
    }
};

// The web view is made at once and the page navigated as soon as both it and the answer are
// there, whichever comes first; the title is set when the answer comes, before the navigation.
TEST_F(StartUpTest, ThePageIsNavigatedOnceBothTheViewAndTheAnswerAreThere) {
    for (const bool answerFirst : {true, false}) {
        SCOPED_TRACE(answerFirst ? "answer first" : "view first");
        platform.webView.navigations.clear();
        platform.window.title.clear();
        holdInfo = !answerFirst;
        Begin();
        EXPECT_TRUE(platform.webView.created) << "the view is made before the service answers";
        if (answerFirst) {
            AwaitAnswer();
            EXPECT_EQ(Observe(), (Observed{{}, "Demo App", false, "", {}}));
            platform.webView.CompleteCreation();
        } else {
            platform.webView.CompleteCreation();
            platform.window.Pump();
            EXPECT_EQ(Observe(), (Observed{{}, "", false, "", {}}));
            infoGate.Open();
            AwaitAnswer();
        }
        EXPECT_EQ(Observe(), (Observed{{kPage}, "Demo App", false, "", {}}));
        EXPECT_EQ(platform.window.timers.count(kPageTimer), 1u);
        host.reset();
    }
}

// An identifier made for this run is stored beside the other settings while the start goes on,
// and is on disk by the time the run has ended, whether or not the service ever answered.
TEST_F(StartUpTest, ANewIdentifierIsStoredByTheEndOfTheRun) {
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "service answered" : "service never answered");
        // Binary, so that the file holds these very bytes on Windows too.
        std::ofstream(options.configPath, std::ios::binary) << "[root]\ndownloader_id=1001\n";
        holdInfo = !answered;
        Begin();
        if (answered)
            AwaitAnswer();
        host->EndRun();
        EXPECT_EQ(ReadFileBytes(options.configPath),
                  "[root]\ndownloader_id=1001\n[user]\nuuid=TESTID\n");
        infoGate.Open();
        host.reset();
    }
}

// Every way the start can fail ends with the built-in page on screen saying which part failed,
// and the service hears of it with the start-failed event; the connecting state comes only when
// the page is slow, and reports nothing.
struct FailureCase {
    const char* name;
    int status;
    const char* answer;
    // What happens after the start: a page load failure, a timer, the page's own resize.
    std::function<void(platform::headless::HeadlessPlatform&)> then;
    Observed expected;
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class StartFailureTable : public StartUpTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartFailureTable, ShowsTheBuiltInPageInItsState) {
    const FailureCase& c = GetParam();
    infoStatus = c.status;
    infoAnswer = c.answer;
    Begin();
    platform.webView.CompleteCreation();
    AwaitAnswer();
    c.then(platform);
    platform.window.Pump();
    EXPECT_EQ(Observe(), c.expected);
}

const auto kNothing = [](platform::headless::HeadlessPlatform&) {};
const auto kPageFails = [](platform::LoadFailure failure) {
    return [failure](platform::headless::HeadlessPlatform& p) { p.webView.FailLoad(failure); };
};

constexpr char kNotAvailable[] = "service: This download is not available | Details: ";
constexpr char kPageMissing[] = "page: The download page is not available | Details: ";
constexpr char kNotSecure[] = "page: The connection is not secure | Details: ";

INSTANTIATE_TEST_SUITE_P(
    Starts, StartFailureTable,
    ::testing::Values(
        FailureCase{"service declines", 200, R"({"code":500})", kNothing,
                    Observed{{},
                             "Installer",
                             true,
                             std::string(kNotAvailable) + "service: refused (declined), HTTP 200",
                             {kEventStartFailed}}},
        FailureCase{"server error page", 500, "<html>Internal Server Error</html>", kNothing,
                    Observed{{},
                             "Installer",
                             true,
                             std::string(kNotAvailable) + "service: refused (malformed), HTTP 500",
                             {kEventStartFailed}}},
        FailureCase{"answer without a page", 200, R"({"code":200,"data":{"name":"Demo App"}})",
                    kNothing,
                    Observed{{},
                             "Demo App",
                             true,
                             std::string(kNotAvailable) + "service: refused (no page), HTTP 200",
                             {kEventStartFailed}}},
        FailureCase{"page does not load", 200, kGoodAnswer, kPageFails({}),
                    Observed{{kPage},
                             "Demo App",
                             true,
                             "page: The page could not be loaded | Details: page: no connection",
                             {kEventStartFailed}}},
        FailureCase{"page answered 404", 200, kGoodAnswer, kPageFails({404}),
                    Observed{{kPage},
                             "Demo App",
                             true,
                             std::string(kPageMissing) + "page: error answer, HTTP 404",
                             {kEventStartFailed}}},
        FailureCase{"page certificate expired", 200, kGoodAnswer,
                    kPageFails({0, CertificateProblem::Expired}),
                    Observed{{kPage},
                             "Demo App",
                             true,
                             std::string(kNotSecure) + "page: certificate expired",
                             {kEventStartFailed}}},
        FailureCase{"page certificate for another host", 200, kGoodAnswer,
                    kPageFails({0, CertificateProblem::WrongHost}),
                    Observed{{kPage},
                             "Demo App",
                             true,
                             std::string(kNotSecure) + "page: certificate for another host",
                             {kEventStartFailed}}},
        FailureCase{"page never sizes the window", 200, kGoodAnswer,
                    [](platform::headless::HeadlessPlatform& p) {
                        ASSERT_TRUE(p.window.FireTimer(kPageTimer));
                    },
                    Observed{{kPage},
                             "Demo App",
                             true,
                             "page: The page could not be loaded | Details: page: did not appear "
                             "in time",
                             {kEventStartFailed}}},
        FailureCase{"page slow to appear", 200, kGoodAnswer,
                    [](platform::headless::HeadlessPlatform& p) {
                        ASSERT_TRUE(p.window.FireTimer(kConnectingTimer));
                    },
                    Observed{{kPage}, "Demo App", true, "connecting", {}}},
        FailureCase{"page sizes the window after the connecting state", 200, kGoodAnswer,
                    [](platform::headless::HeadlessPlatform& p) {
                        ASSERT_TRUE(p.window.FireTimer(kConnectingTimer));
                        p.webView.DeliverPageMessage(kResize);
                        // A watchdog message already queued changes nothing any more.
                        p.window.Post({WM_TIMER, kPageTimer, 0});
                    },
                    Observed{{kPage}, "Demo App", true, "", {kEventWindowSized}}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

// "Try again" repeats the info request and the navigation; once the page sizes the window, it
// replaces the built-in page.
TEST_F(StartUpTest, TryAgainAfterTheServiceRecoversShowsTheVendorsPage) {
    infoStatus = 503;
    infoAnswer = "busy";
    StartHost();
    ASSERT_EQ(Observe().builtIn, "service: This download is not available | Details: service: "
                                 "refused (malformed), HTTP 503");
    const platform::Rect failurePlace = platform.window.rect;

    infoStatus = 200;
    infoAnswer = kGoodAnswer;
    platform.builtInPage.SendCommand("retry");
    EXPECT_EQ(Observe().builtIn, "connecting");
    AwaitAnswer();
    EXPECT_EQ(infoRequests, 2);
    EXPECT_EQ(platform.webView.navigations, std::vector<std::string>{kPage});
    EXPECT_EQ(platform.window.rect, failurePlace) << "the built-in page stays where it was";

    Send(kResize);
    EXPECT_EQ(Observe(), (Observed{{kPage}, "Demo App", true, "", {kEventStartFailed, "5"}}));
    EXPECT_EQ(platform.window.requestedSize, (std::pair<uint32_t, uint32_t>{600, 400}));
}

// The built-in page speaks the user's language, and says which one it is for screen readers.
// "Try again" shows "Connecting…" long enough to be seen, also when the failure comes back at
// once; then the failure again, reported once more.
TEST_F(StartUpTest, TryAgainShowsConnectingLongEnoughToBeSeen) {
    infoStatus = 503;
    infoAnswer = "busy";
    StartHost();
    const std::string failure = Observe().builtIn;
    ASSERT_NE(failure, "connecting");
    platform.builtInPage.SendCommand("retry");
    AwaitAnswer();
    platform.window.Pump();
    EXPECT_EQ(Observe().builtIn, "connecting");
    ASSERT_EQ(platform.window.timers.count(kRetryTimer), 1u);
    EXPECT_LE(platform.window.timers[kRetryTimer], options.retryShownAtLeast);
    ASSERT_TRUE(platform.window.FireTimer(kRetryTimer));
    platform.window.Pump();
    EXPECT_EQ(Observe(),
              (Observed{{}, "Installer", true, failure, {kEventStartFailed, kEventStartFailed}}));
}

#if defined(CPPHTTPLIB_OPENSSL_SUPPORT) && !defined(_WIN32)
// Each way the service cannot be reached has its own advice: only a missing connection asks the
// user to check theirs. Real requests: a closed port, and certificates refused for each cause.
TEST_F(StartUpTest, EachUnreachableServiceHasItsOwnAdvice) {
    using Kind = TestCertificates::Kind;
    const TestCertificates certificates(folder);
    options.serviceLimits.trustedAuthorities = certificates.authority();
    std::vector<std::unique_ptr<TlsLoopbackServer>> servers;
    const auto serve = [&](Kind kind) {
        servers.push_back(std::make_unique<TlsLoopbackServer>(certificates.certificate(kind),
                                                              certificates.key()));
        servers.back()->server.Get("/info", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(kGoodAnswer, "application/json");
        });
        servers.back()->Start();
        return servers.back()->Url("/info");
    };
    const std::string notSecure = "service: The connection is not secure | Details: service: ";
    const std::pair<std::string, std::string> cases[] = {
        {RefusedLoopbackUrl("/info"),
         "service: Cannot reach the download service | Details: service: no connection"},
        {serve(Kind::Expired), notSecure + "certificate expired"},
        {serve(Kind::OtherHost), notSecure + "certificate for another host"},
        {serve(Kind::SelfSigned), notSecure + "certificate not trusted"},
    };
    for (const auto& [url, shown] : cases) {
        SCOPED_TRACE(url);
        host.reset();
        platform.builtInPage.shown = false;
        options.infoEndpoint = url;
        StartHost();
        EXPECT_EQ(Observe().builtIn, shown);
    }
    // The one that works, for contrast: the vendor's page, no built-in page.
    host.reset();
    platform.builtInPage.shown = false;
    options.infoEndpoint = serve(Kind::Good);
    StartHost();
    EXPECT_EQ(Observe().builtIn, "");
    EXPECT_EQ(platform.webView.navigations.back(), kPage);
}
#endif

TEST_F(StartUpTest, TheBuiltInPageSpeaksTheUsersLanguage) {
    struct Case {
        std::vector<std::string> languages;
        std::string lang, title, retry;
    };
    const Case cases[] = {
        {{"zh_CN.UTF-8", "zh_CN", "zh", "C"}, "zh-CN", "此下载不可用", "重试"},
        {{"de_DE.UTF-8", "de_DE", "de", "C"},
         "de",
         "Dieser Download ist nicht verfügbar",
         "Erneut versuchen"},
        {{"C"}, "en", "This download is not available", "Try again"},
    };
    infoAnswer = R"({"code":404})";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.languages.front());
        host.reset();
        platform.builtInPage.shownWith.clear();
        platform.desktop.languages = c.languages;
        StartHost();
        ASSERT_FALSE(platform.builtInPage.shownWith.empty());
        const auto shown = nlohmann::json::parse(platform.builtInPage.shownWith.back());
        EXPECT_EQ((std::vector<std::string>{shown["lang"], shown["service_title"], shown["retry"]}),
                  (std::vector<std::string>{c.lang, c.title, c.retry}));
    }
}

TEST_F(StartUpTest, CloseOnTheBuiltInPageEndsTheProgram) {
    infoAnswer = R"({"code":404})";
    StartHost();
    platform.builtInPage.SendCommand("close");
    EXPECT_EQ(platform.window.endDialogResult, kEndedByPage);
}

// The two channels stay apart: the built-in page's commands do nothing for the vendor's page, and
// a page command sent through the built-in page's channel does nothing at all.
TEST_F(StartUpTest, TheBuiltInPageAndTheVendorsPageCannotUseEachOthersCommands) {
    infoAnswer = R"({"code":404})";
    StartHost();
    // The vendor's page asking to retry: no second request.
    Send("retry");
    Send(R"({"msg_type":"retry"})");
    platform.window.Pump();
    EXPECT_EQ(infoRequests, 1);
    EXPECT_EQ(platform.window.endDialogResult, std::nullopt);

    // Page commands through the built-in channel, also past the double's own filter.
    const std::string download = R"({"msg_type":"dnld","msg_data":{"url":")" +
                                 service.Url("/files/Setup.exe") + R"(","silent":true}})";
    for (const std::string& text : {download, std::string(R"({"msg_type":"close"})")}) {
        platform.builtInPage.SendCommand(text);
        host->OnBuiltInCommand(text);
    }
    platform.window.Pump();
    EXPECT_EQ(host->downloadState(), DownloadState::Idle);
    EXPECT_TRUE(platform.desktop.saveDialogs.empty());
    EXPECT_EQ(platform.window.endDialogResult, std::nullopt);
}

// Reports go out from the sender thread in the order the page made them, while the loop keeps
// turning: a service that has not answered the first report holds up no page command.
TEST_F(StartUpTest, ReportsGoOutInOrderWhileTheLoopKeepsTurning) {
    StartHost();
    holdEvents = true;
    // Should a command wait for the service after all, the service answers after a while by
    // itself, so that the test fails below rather than waits for ever.
    std::mutex mutex;
    std::condition_variable commandsDone;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!commandsDone.wait_for(lock, std::chrono::seconds(20), [&] { return done; }))
            eventGate.Open();
    });
    for (const char* id : {"a", "b", "c"})
        Send(std::string(R"({"msg_type":"post_data","msg_data":{"event_id":")") + id + "\"}}");
    Send(kResize);
    {
        const std::lock_guard lock(mutex);
        done = true;
    }
    commandsDone.notify_all();
    watchdog.join();
    EXPECT_EQ(platform.window.requestedSize, (std::pair<uint32_t, uint32_t>{600, 400}));
    {
        const std::lock_guard lock(eventsMutex_);
        EXPECT_TRUE(events_.empty()) << "the commands waited for the service to answer";
    }
    eventGate.Open();
    EXPECT_EQ(Events(), (std::vector<std::string>{"a", "b", "c", "5"}));
}

// At the end of the run the queued reports get one overall deadline: a service that answers in
// time gets them all, and the run ends as soon as they are out; a silent one gets none, and the
// run ends by the deadline.
struct DrainCase {
    const char* name;
    int drainLimitMs; // generous where the service answers, so that a busy machine keeps to it
    int delayMs;
    bool silent;
    size_t unsent;
    std::vector<std::string> delivered;
};

void PrintTo(const DrainCase& c, std::ostream* out) {
    *out << c.name;
}

class EndOfRunTable : public StartUpTest, public ::testing::WithParamInterface<DrainCase> {};

TEST_P(EndOfRunTable, QueuedReportsGetOneDeadline) {
    const DrainCase& c = GetParam();
    options.eventDrainLimit = milliseconds(c.drainLimitMs);
    eventDelayMs = c.delayMs;
    holdEvents = c.silent;
    StartHost();
    for (const char* id : {"a", "b", "c"})
        Send(std::string(R"({"msg_type":"post_data","msg_data":{"event_id":")") + id + "\"}}");
    const auto before = steady_clock::now();
    EXPECT_EQ(host->EndRun(), c.unsent);
    const auto took = steady_clock::now() - before;
    if (c.silent) {
        // The promise: the run ends by the deadline. The margin is for ending the threads on a
        // busy machine; a report that ran to its own limit would take 3 s.
        EXPECT_LT(took, options.eventDrainLimit + milliseconds(1000));
    } else {
        EXPECT_LT(took, options.eventDrainLimit) << "the run waited out the deadline";
    }
    std::lock_guard lock(eventsMutex_);
    EXPECT_EQ(events_, c.delivered);
}

INSTANTIATE_TEST_SUITE_P(
    Services, EndOfRunTable,
    ::testing::Values(DrainCase{"in time", 10'000, 50, false, 0, {"a", "b", "c"}},
                      DrainCase{"silent", 600, 0, true, 3, {}}));

} // namespace
} // namespace tarvik::testing
