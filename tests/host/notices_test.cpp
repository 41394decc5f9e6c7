#include "host_fixture.h"

#include "common/download_failure.h"

#include <thread>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;

const std::string kStart = R"({"msg_type":"dnld","status":1,"status_text":"dnld_start"})";
const std::string kFinished = R"({"msg_type":"dnld","status":2,"status_text":"dnld_finished"})";

// Where the download goes, told after its start.
std::string FileNotice(const std::string& name) {
    return R"({"file_name":")" + name + R"(","folder_name":"Downloads","msg_type":"dl_file"})";
}

std::string FailedNotice(const char* reason) {
    return std::string(R"({"msg_type":"dnld","reason":")") + reason +
           R"(","status":0,"status_text":"dnld_failed"})";
}

class NoticesTest : public HostFixture {
protected:
    void RequestDownload(const std::string& url) {
        platform.webView.DeliverPageMessage(R"({"msg_type":"dnld","msg_data":{"url":")" + url +
                                            R"(","silent":true}})");
    }
    // Waits, without handling the queue, until the worker has posted `id` as the window's
    // message number `since` or later: the page's next message then arrives with the worker's
    // last word already queued ahead of it.
    bool WaitUntilPosted(uint32_t id, size_t since) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::vector<HostMessage> posted = platform.window.PostedMessages();
            for (size_t i = since; i < posted.size(); ++i)
                if (posted[i].id == id)
                    return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }
    // The download notices only: progress figures depend on how the bytes arrived.
    std::vector<std::string> DownloadNotices() const {
        std::vector<std::string> notices;
        for (const std::string& notice : Notices())
            if (notice.find("dl_progress") == std::string::npos)
                notices.push_back(notice);
        return notices;
    }
};

// The download's road as the page sees it: each row is what the page sent and what the worker
// did, the state the download ends in, and every download notice on the way.
TEST_F(NoticesTest, EachRoadOfTheDownloadSendsExactlyItsNotices) {
    using Fault = platform::headless::HeadlessSystem::Fault;
    struct Case {
        const char* name;
        std::vector<std::string> requests; // each waited for until the download is no longer new
        std::optional<Fault> fault;
        // The last request is followed at once by a second "dnld" while the worker's last
        // message is still queued.
        bool askWhileTheEndIsQueued = false;
        DownloadState state;
        std::vector<std::string> notices;
    };
    const Case cases[] = {
        {"finish",
         {"Setup.exe"},
         {},
         false,
         DownloadState::Finished,
         {kStart, FileNotice("Setup.exe"), kFinished}},
        {"fail over http",
         {"missing.exe"},
         {},
         false,
         DownloadState::Idle,
         {kStart, FileNotice("missing.exe"), FailedNotice("http")}},
        {"fail on the file",
         {"Setup.exe"},
         Fault::DownloadFileRefused,
         false,
         DownloadState::Idle,
         {kStart, FileNotice("Setup.exe"), FailedNotice("file")}},
        {"a new start after a failure",
         {"missing.exe", "Setup.exe"},
         {},
         false,
         DownloadState::Finished,
         {kStart, FileNotice("missing.exe"), FailedNotice("http"), kStart, FileNotice("Setup.exe"),
          kFinished}},
        // The worker's last word was queued before the repeat: the page has that notice, there
        // is no start to repeat, and a retry stays possible.
        {"asked again as it fails",
         {"missing.exe"},
         {},
         true,
         DownloadState::Idle,
         {kStart, FileNotice("missing.exe"), FailedNotice("http")}},
        {"asked again as it finishes",
         {"Setup.exe"},
         {},
         true,
         DownloadState::Finished,
         {kStart, FileNotice("Setup.exe"), kFinished}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.reset();
        platform.webView.notices.clear();
        for (const Fault fault : {Fault::DownloadFileRefused})
            platform.system.Heal(fault);
        if (c.fault)
            platform.system.Inject(*c.fault);
        std::filesystem::remove_all(folder / "Downloads");
        std::filesystem::create_directory(folder / "Downloads");
        holdAnswers = c.askWhileTheEndIsQueued;
        answerGate.Close();
        StartHost();
        for (const std::string& name : c.requests) {
            const size_t posted = platform.window.PostedMessages().size();
            RequestDownload(InstallerUrl(name));
            if (c.askWhileTheEndIsQueued) {
                ASSERT_TRUE(platform.window.PumpUntil(
                    [&] { return host->downloadState() == DownloadState::Running; }, 10s));
                answerGate.Open();
                ASSERT_TRUE(WaitUntilPosted(
                    name == "missing.exe" ? WM_DNLD_FAILED : WM_DNLD_FINISHED, posted));
                RequestDownload(InstallerUrl(name));
            }
            ASSERT_TRUE(platform.window.PumpUntil(
                [&] {
                    const std::vector<std::string> notices = DownloadNotices();
                    return !notices.empty() &&
                           notices.back().find("dnld_start") == std::string::npos &&
                           notices.back().find("dl_file") == std::string::npos;
                },
                10s));
        }
        platform.window.Pump();
        EXPECT_EQ(host->downloadState(), c.state);
        EXPECT_EQ(DownloadNotices(), c.notices);
    }
}

// A download that runs is told again to a page that asks; one that failed lets the page close.
TEST_F(NoticesTest, ARunningDownloadRepeatsItsStartAndHoldsTheCloseUntilItEnds) {
    StartHost();
    ReachDownloadState(DownloadState::Running);
    Send(R"({"msg_type":"dnld"})");
    Send(R"({"msg_type":"close","msg_data":{"force_close":false}})");
    EXPECT_EQ(Notices(), (std::vector<std::string>{
                             kStart, FileNotice("stall.exe"), kStart,
                             R"({"msg_type":"close","status":1,"status_text":"dnld_running"})"}));
    EXPECT_FALSE(platform.window.endDialogResult.has_value());

    Send(R"({"msg_type":"dnld_cancel"})");
    Send(R"({"msg_type":"close","msg_data":{"force_close":false}})");
    EXPECT_EQ(platform.window.endDialogResult, kEndedByPage);
}

// Every message of a transfer carries its generation. What is still queued from a transfer that
// was cancelled belongs to no download: the next transfer neither ends by it nor reports its
// figures, and a message of no transfer at all changes nothing.
TEST_F(NoticesTest, MessagesOfAnEndedTransferAreDropped) {
    StartHost();
    const auto stale = [&](int64_t generation) {
        for (const HostMessage& message :
             {HostMessage{WM_DNLD_START, 0, generation}, HostMessage{WM_DL_PROGRESS, 0, generation},
              HostMessage{WM_DNLD_FINISHED, 0, generation},
              HostMessage{WM_DNLD_FAILED, static_cast<uint64_t>(DownloadFailure::Verify),
                          generation}})
            platform.window.Post(message);
        platform.window.Pump();
    };
    // No transfer yet.
    stale(0);
    EXPECT_EQ(host->downloadState(), DownloadState::Idle);
    EXPECT_TRUE(Notices().empty());

    ReachDownloadState(DownloadState::Running);
    Send(R"({"msg_type":"dnld_cancel"})");
    ReachDownloadState(DownloadState::Running);
    // The page's repeated request is queued with the current transfer's generation.
    Send(R"({"msg_type":"dnld"})");
    const int64_t current = platform.window.PostedMessages().back().lParam;
    ASSERT_EQ(platform.window.PostedMessages().back().id, WM_DNLD_START);
    platform.webView.notices.clear();
    // The first transfer's, and those of transfers that never were.
    for (const int64_t generation : {int64_t{1}, current - 1, current + 1})
        stale(generation);
    EXPECT_EQ(host->downloadState(), DownloadState::Running);
    EXPECT_TRUE(Notices().empty());

    // The second transfer is still the download: it is cancelled as one.
    Send(R"({"msg_type":"dnld_cancel"})");
    EXPECT_EQ(Notices(), std::vector<std::string>{FailedNotice("cancelled")});
    EXPECT_EQ(host->downloadState(), DownloadState::Idle);
}

// The notices of the window's state need the page; before the web view exists they are dropped
// without touching it.
TEST(NoticesBeforeWebView, AreDroppedWithoutTouchingTheWebView) {
    platform::headless::HeadlessPlatform platform;
    HostOptions options;
    options.configPath = "/nonexistent-folder/config.ini";
    options.infoEndpoint = "http://127.0.0.1:1/info";
    options.logEndpoint = "http://127.0.0.1:1/log";
    options.makeInstallId = [] { return std::wstring(L"X"); };
    CTarvikDlg host(platform.Roles(), options);
    platform.window.Create(host);
    platform.window.Show(platform::ShowCommand::Maximized);
    platform.window.Pump();
    EXPECT_TRUE(platform.webView.notices.empty());
}

} // namespace
} // namespace tarvik::testing
