#include "host_fixture.h"

#include "common/download_failure.h"

namespace tarvik::testing {
namespace {

class NoticesTest : public HostFixture {
protected:
    void SetUp() override { StartHost(); }
    void Post(uint32_t id, uint64_t wParam = 0, int64_t lParam = 0) {
        platform.window.Post({id, wParam, lParam});
        platform.window.Pump();
    }
};

TEST_F(NoticesTest, ProgressNoticesAreExactJson) {
    struct Case {
        uint64_t received;
        int64_t total;
        const char* expected;
    };
    const Case cases[] = {
        {512, 2048,
         R"({"dl_now":512,"dl_progress":25.0,"dl_total":2048,"msg_type":"dl_progress","status":true})"},
        {0, 100,
         R"({"dl_now":0,"dl_progress":0.0,"dl_total":100,"msg_type":"dl_progress","status":true})"},
        // Divided first, then multiplied: the page gets exactly what that order gives.
        {1, 10000000,
         R"({"dl_now":1,"dl_progress":9.999999999999999e-06,"dl_total":10000000,"msg_type":"dl_progress","status":true})"},
        {1, 3000000,
         R"({"dl_now":1,"dl_progress":3.3333333333333335e-05,"dl_total":3000000,"msg_type":"dl_progress","status":true})"},
        {300, 200,
         R"({"dl_now":300,"dl_progress":150.0,"dl_total":200,"msg_type":"dl_progress","status":true})"},
        {1, 3,
         R"({"dl_now":1,"dl_progress":33.33333333333333,"dl_total":3,"msg_type":"dl_progress","status":true})"},
        {5'000'000'000, 10'000'000'000,
         R"({"dl_now":5000000000,"dl_progress":50.0,"dl_total":10000000000,"msg_type":"dl_progress","status":true})"},
    };
    Post(WM_DNLD_START);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        platform.webView.notices.clear();
        Post(WM_DL_PROGRESS, c.received, c.total);
        ASSERT_EQ(Notices(), std::vector<std::string>{c.expected});
    }
    EXPECT_EQ(host->downloadState(), DownloadState::Running) << "progress never changes the state";

    // Figures still queued when a transfer has failed or was cancelled belong to no download.
    Post(WM_DNLD_FAILED, 1);
    platform.webView.notices.clear();
    Post(WM_DL_PROGRESS, 512, 2048);
    EXPECT_TRUE(Notices().empty());
}

// The download state machine: each row is a sequence of messages, the state it ends in and
// every notice the page received on the way.
TEST_F(NoticesTest, StateMachineSendsTheExactNotices) {
    const std::string start = R"({"msg_type":"dnld","status":1,"status_text":"dnld_start"})";
    const std::string finished = R"({"msg_type":"dnld","status":2,"status_text":"dnld_finished"})";
    const auto failed = [](const char* reason) {
        return std::string(R"({"msg_type":"dnld","reason":")") + reason +
               R"(","status":0,"status_text":"dnld_failed"})";
    };
    struct Case {
        const char* name;
        std::vector<HostMessage> messages;
        DownloadState state;
        std::vector<std::string> notices;
    };
    const uint64_t http = static_cast<uint64_t>(DownloadFailure::Http);
    const uint64_t network = static_cast<uint64_t>(DownloadFailure::Network);
    const uint64_t file = static_cast<uint64_t>(DownloadFailure::File);
    const Case cases[] = {
        {"start", {{WM_DNLD_START}}, DownloadState::Running, {start}},
        {"start twice", {{WM_DNLD_START}, {WM_DNLD_START}}, DownloadState::Running, {start, start}},
        {"finish",
         {{WM_DNLD_START}, {WM_DNLD_FINISHED}},
         DownloadState::Finished,
         {start, finished}},
        {"finish repeated",
         {{WM_DNLD_START}, {WM_DNLD_FINISHED}, {WM_DNLD_FINISHED}},
         DownloadState::Finished,
         {start, finished, finished}},
        {"fail over http",
         {{WM_DNLD_START}, {WM_DNLD_FAILED, http}},
         DownloadState::Idle,
         {start, failed("http")}},
        {"fail over network",
         {{WM_DNLD_START}, {WM_DNLD_FAILED, network}},
         DownloadState::Idle,
         {start, failed("network")}},
        {"fail on the file",
         {{WM_DNLD_START}, {WM_DNLD_FAILED, file}},
         DownloadState::Idle,
         {start, failed("file")}},
        // A page that asks again while the download runs gets the start notice once more; the
        // state is the transfer's alone.
        {"start repeated",
         {{WM_DNLD_START}, {WM_DNLD_START, kRepeatedNotice}},
         DownloadState::Running,
         {start, start}},
        // The worker's last word was queued before the repeat: the page has the failure, and a
        // retry must stay possible.
        {"start repeated after a failure",
         {{WM_DNLD_START}, {WM_DNLD_FAILED, http}, {WM_DNLD_START, kRepeatedNotice}},
         DownloadState::Idle,
         {start, failed("http")}},
        {"start repeated after the end",
         {{WM_DNLD_START}, {WM_DNLD_FINISHED}, {WM_DNLD_START, kRepeatedNotice}},
         DownloadState::Finished,
         {start, finished}},
        {"a new start after a failure",
         {{WM_DNLD_START}, {WM_DNLD_FAILED, http}, {WM_DNLD_START}},
         DownloadState::Running,
         {start, failed("http"), start}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.reset();
        platform.webView.notices.clear();
        StartHost();
        for (const HostMessage& message : c.messages)
            platform.window.Post(message);
        platform.window.Pump();
        EXPECT_EQ(host->downloadState(), c.state);
        EXPECT_EQ(Notices(), c.notices);
    }
}

TEST_F(NoticesTest, CloseDuringDownloadIsAnsweredWithTheCloseNotice) {
    Post(WM_DNLD_START);
    platform.webView.notices.clear();
    Send(R"({"msg_type":"close","msg_data":{"force_close":false}})");
    EXPECT_EQ(Notices(), std::vector<std::string>{
                             R"({"msg_type":"close","status":1,"status_text":"dnld_running"})"});
    EXPECT_FALSE(platform.window.endDialogResult.has_value());
}

// The page asks for the download again just as the transfer fails: the failure is already
// queued when the request arrives. The download must end up Idle, so that the page may retry and
// a close is not held up by a download that no longer runs.
TEST_F(NoticesTest, ARequestRacingTheFailureLeavesTheDownloadEnded) {
    Post(WM_DNLD_START);
    platform.webView.notices.clear();
    platform.window.Post({WM_DNLD_FAILED, static_cast<uint64_t>(DownloadFailure::Network)});
    platform.webView.DeliverPageMessage(R"({"msg_type":"dnld"})");
    platform.window.Pump();
    EXPECT_EQ(host->downloadState(), DownloadState::Idle);
    EXPECT_EQ(
        Notices(),
        std::vector<std::string>{
            R"({"msg_type":"dnld","reason":"network","status":0,"status_text":"dnld_failed"})"});

    Send(R"({"msg_type":"close","msg_data":{"force_close":false}})");
    EXPECT_EQ(platform.window.endDialogResult, kEndedByPage);
}

TEST(NoticesBeforeWebView, AreDroppedWithoutTouchingTheWebView) {
    platform::headless::HeadlessPlatform platform;
    HostOptions options;
    options.configPath = "/nonexistent-folder/config.ini";
    options.infoEndpoint = "http://127.0.0.1:1/info";
    options.logEndpoint = "http://127.0.0.1:1/log";
    options.makeInstallId = [] { return std::wstring(L"X"); };
    CTarvikDlg host(platform.Roles(), options);
    platform.window.Create(host);
    platform.window.Post({WM_DNLD_START});
    platform.window.Pump();
    EXPECT_EQ(host.downloadState(), DownloadState::Running);
    EXPECT_TRUE(platform.webView.notices.empty());
}

} // namespace
} // namespace tarvik::testing
