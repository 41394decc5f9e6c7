#include "host_fixture.h"

#include "common/log.h"
#include "common/text_conversion.h"
#include "download/sha256.h"
#ifndef _WIN32
// Signatures are checked with OpenSSL, on Linux only; a Windows build refuses a key.
#include "support/minisign_tool.h"
#endif
#include "support/range_server.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;

const std::string kStart = R"({"msg_type":"dnld","status":1,"status_text":"dnld_start"})";
const std::string kFinished = R"({"msg_type":"dnld","status":2,"status_text":"dnld_finished"})";

std::set<std::string> NamesIn(const std::filesystem::path& folder);

// The host's whole download road on the headless platform, with a real worker and a real
// installer server on loopback.
class DownloadFlowTest : public HostFixture {
protected:
    DownloadFlowTest() : installer(200'000, 'x') {
        for (size_t i = 0; i < installer.size(); ++i)
            installer[i] = static_cast<char>('A' + i % 26);
        files.server.Get("/files/Setup.exe", [this](const auto&, auto& response) {
            response.set_content(installer, "application/octet-stream");
        });
        files.server.Get(R"(/files/[^/]+\.bin)", [this](const auto&, auto& response) {
            response.set_content(installer, "application/octet-stream");
        });
        files.server.Get("/files/missing.exe", [](const auto&, auto& response) {
            response.status = 404;
            response.set_content("not here", "text/plain");
        });
        // No length: the body is sent in chunks.
        files.server.Get("/files/nolength.exe", [this](const auto&, auto& response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [this](size_t offset, httplib::DataSink& sink) {
                    if (offset >= installer.size()) {
                        sink.done();
                        return true;
                    }
                    const size_t take = std::min<size_t>(20'000, installer.size() - offset);
                    return sink.write(installer.data() + offset, take);
                });
        });
        // Sends a little, then the rest once the test releases it.
        files.server.Get("/files/held.exe", [this](const auto&, auto& response) {
            response.set_content_provider(
                installer.size(), "application/octet-stream",
                [this](size_t offset, size_t length, httplib::DataSink& sink) {
                    if (offset == 0)
                        return sink.write(installer.data(), 3);
                    while (!released && !stopStalling)
                        std::this_thread::sleep_for(5ms);
                    return sink.write(installer.data() + offset, length);
                });
        });
        // Sends a little, then stalls until the test ends.
        files.server.Get("/files/stall.exe", [this](const auto&, auto& response) {
            response.set_content_provider(1'000'000, "application/octet-stream",
                                          [this](size_t offset, size_t, httplib::DataSink& sink) {
                                              if (offset == 0)
                                                  return sink.write("abc", 3);
                                              stalling = true;
                                              while (!stopStalling)
                                                  std::this_thread::sleep_for(10ms);
                                              return false;
                                          });
        });
        files.Start();
        options.transferLimits.connect = 2s;
        options.transferLimits.lowSpeedTime = 5s;
        options.transferLimits.retryBackoff = 10ms;
    }
    ~DownloadFlowTest() override {
        host.reset();
        stopStalling = true;
    }

    void RequestDownload(const std::string& path, bool silent) {
        Send(R"({"msg_type":"dnld","msg_data":{"url":")" + files.Url(path) + R"(","silent":)" +
             (silent ? "true" : "false") + "}}");
    }
    bool WaitForNotice(const std::string& statusText) {
        return platform.window.PumpUntil(
            [&] {
                for (const auto& notice : Notices())
                    if (notice.find(statusText) != std::string::npos)
                        return true;
                return false;
            },
            10s);
    }
    std::filesystem::path Downloads() const { return folder / "Downloads"; }
    // A cancelled worker removes its file in the background, without the host waiting for it.
    bool DownloadsEmptiesSoon() const {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!std::filesystem::is_empty(Downloads())) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    LoopbackServer files;
    std::string installer;
    // The stalling installer has sent its first bytes and holds back the rest.
    std::atomic<bool> stalling = false;
    // The held installer sends the rest of its bytes.
    std::atomic<bool> released = false;
    std::atomic<bool> stopStalling = false;
};

TEST_F(DownloadFlowTest, SilentDownloadLandsInDownloadsWithStartProgressFinishedInOrder) {
    StartHost();
    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));

    const auto target = Downloads() / "Setup.exe";
    EXPECT_EQ(ReadFileBytes(target), installer);
    EXPECT_EQ(host->filePath(), Utf8FromPath(target));
    EXPECT_EQ(host->downloadState(), DownloadState::Finished);
    // Nothing but the installer: the temporary file is gone.
    // Under Wine the origin mark, an alternate data stream on NTFS, is a file named "<file>:..."
    // of its own; it is no leftover of the download.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Downloads()))
        if (entry.path().filename().native().find(':') == std::filesystem::path::string_type::npos)
            ++files;
    EXPECT_EQ(files, 1u);

    const auto notices = Notices();
    ASSERT_GE(notices.size(), 4u);
    EXPECT_EQ(notices.front(), kStart);
    EXPECT_EQ(notices[1],
              R"({"file_name":"Setup.exe","folder_name":"Downloads","msg_type":"dl_file"})");
    EXPECT_EQ(notices.back(), kFinished);
    const std::string finalProgress =
        R"({"dl_now":200000,"dl_progress":100.0,"dl_total":200000,"msg_type":"dl_progress","status":true})";
    EXPECT_EQ(notices[notices.size() - 2], finalProgress);
    for (size_t i = 2; i + 1 < notices.size(); ++i)
        EXPECT_NE(notices[i].find("\"dl_progress\""), std::string::npos) << notices[i];

    // A second request after the end only repeats the finished notice.
    platform.webView.notices.clear();
    RequestDownload("/files/Setup.exe", true);
    EXPECT_EQ(Notices(), std::vector<std::string>{kFinished});

    Send(R"({"msg_type":"install"})");
    EXPECT_EQ(platform.desktop.startedInstallers, std::vector<std::string>{target.string()});
    EXPECT_TRUE(platform.desktop.messageBoxes.empty());
}

// File names come from the URL and may hold any character; none of them may trip the host's
// path handling, whatever the process locale.
TEST_F(DownloadFlowTest, NamesOutsideAsciiAreKeptAndTheirFilesInstallable) {
    StartHost();
    RequestDownload("/files/%E5%AE%89%E8%A3%85%20%C3%A9.bin", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    const auto target = Downloads() / PathFromUtf8("\xE5\xAE\x89\xE8\xA3\x85 \xC3\xA9.bin");
    EXPECT_EQ(ReadFileBytes(target), installer);
    EXPECT_EQ(host->filePath(), Utf8FromPath(target));
    Send(R"({"msg_type":"install"})");
    EXPECT_EQ(platform.desktop.startedInstallers, std::vector<std::string>{Utf8FromPath(target)});
}

TEST_F(DownloadFlowTest, RefusedElevationShowsTheBoxThenTheFile) {
    StartHost();
    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    platform.desktop.installerStart = InstallerStart::Dismissed;
    Send(R"({"msg_type":"install"})");
    ASSERT_EQ(platform.desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(platform.desktop.messageBoxes[0].caption, "Run failed");
    EXPECT_EQ(platform.desktop.revealedPaths, std::vector<std::string>{host->filePath()});
}

// An older file with the installer's name lies in Downloads. While this run's transfer of that
// name is still running, or after it failed, "install" must not start the old file (with
// administrator rights), and the reveal that follows the failure box must not point it out.
TEST_F(DownloadFlowTest, AnOlderFileUnderTheInstallersNameIsNeverLaunched) {
    struct Case {
        const char* name;
        const char* path;
        const char* reachedWith; // the notice that shows the transfer got there
    };
    const Case cases[] = {
        {"while the transfer runs", "/files/stall.exe", "dnld_start"},
        {"after the transfer failed", "/files/missing.exe", "dnld_failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.reset();
        platform.webView.notices.clear();
        platform.desktop = {};
        platform.desktop.downloadsFolder = Downloads().string();
        const std::string fileName = std::filesystem::path(c.path).filename().string();
        std::ofstream(Downloads() / fileName) << "#!/bin/sh\necho an older file\n";
        StartHost();
        RequestDownload(c.path, true);
        ASSERT_TRUE(WaitForNotice(c.reachedWith));

        Send(R"({"msg_type":"install"})");
        EXPECT_TRUE(platform.desktop.startedInstallers.empty());
        EXPECT_EQ(platform.desktop.messageBoxes.size(), 1u);
        EXPECT_TRUE(platform.desktop.revealedPaths.empty());
        EXPECT_EQ(platform.desktop.openedFolders, std::vector<std::string>{Downloads().string()});
    }
}

TEST_F(DownloadFlowTest, SaveDialogProposesTheNameAndItsChoiceIsUsed) {
    StartHost();
    const auto chosen = folder / "elsewhere.exe";
    platform.desktop.saveDialogAnswer = chosen.string();
    RequestDownload("/files/Setup.exe", false);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    ASSERT_EQ(platform.desktop.saveDialogs.size(), 1u);
    EXPECT_EQ(platform.desktop.saveDialogs[0].proposedName, (Downloads() / "Setup.exe").string());
    EXPECT_EQ(platform.desktop.saveDialogs[0].defaultExtension, "exe");
    EXPECT_EQ(platform.desktop.saveDialogs[0].title, "Save the installer");
    ASSERT_EQ(platform.desktop.saveDialogs[0].filters.size(), 2u);
    EXPECT_EQ(platform.desktop.saveDialogs[0].filters[0].label, "Applications (*.exe)");
    EXPECT_EQ(platform.desktop.saveDialogs[0].filters[1].label, "All files (*.*)");
    EXPECT_EQ(ReadFileBytes(chosen), installer);
    EXPECT_FALSE(std::filesystem::exists(Downloads() / "Setup.exe"));
}

// A name typed without an extension gets the installer's own, and the dialog opens in the Downloads
// folder, or where the user saved last.
TEST_F(DownloadFlowTest, SaveDialogCompletesWithTheInstallersOwnExtensionAndRemembersTheFolder) {
    StartHost();
    const struct {
        const char* path;
        const char* extension;
    } cases[] = {{"/files/Setup.exe", "exe"}, {"/files/tool.run", "run"},
                 {"/files/app.deb", "deb"},   {"/files/archive.tar.gz", "gz"},
                 {"/files/noext", ""},        {"/files/.hidden", ""}};
    for (const auto& c : cases)
        RequestDownload(c.path, false); // cancelled: no answer scripted
    ASSERT_EQ(platform.desktop.saveDialogs.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_EQ(platform.desktop.saveDialogs[i].defaultExtension, cases[i].extension);
        EXPECT_EQ(std::filesystem::path(platform.desktop.saveDialogs[i].proposedName).parent_path(),
                  Downloads());
    }

    const auto elsewhere = folder / "chosen";
    std::filesystem::create_directory(elsewhere);
    platform.desktop.saveDialogAnswer = (elsewhere / "missing.exe").string();
    RequestDownload("/files/missing.exe", false);
    ASSERT_TRUE(WaitForNotice("dnld_failed"));
    platform.desktop.saveDialogAnswer.reset();
    RequestDownload("/files/Setup.exe", false);
    EXPECT_EQ(platform.desktop.saveDialogs.back().proposedName, (elsewhere / "Setup.exe").string());
}

TEST_F(DownloadFlowTest, SilentWithoutDownloadsFolderAsksWhereToSave) {
    platform.desktop.downloadsFolder.clear();
    StartHost();
    RequestDownload("/files/Setup.exe", true);
    EXPECT_EQ(platform.desktop.saveDialogs.size(), 1u);
}

TEST_F(DownloadFlowTest, CancelledSaveDialogPostsNothingAndTheRequestMayBeRepeated) {
    StartHost();
    const size_t postedBefore = platform.window.PostedMessages().size();
    RequestDownload("/files/Setup.exe", false);
    EXPECT_EQ(platform.window.PostedMessages().size(), postedBefore);
    EXPECT_TRUE(Notices().empty());
    EXPECT_EQ(host->downloadState(), DownloadState::Idle);

    RequestDownload("/files/Setup.exe", false);
    EXPECT_EQ(platform.desktop.saveDialogs.size(), 2u);
}

// The save dialog's loop keeps delivering page messages, and a start is only known to the page
// once its message is handled; a second request meanwhile must not start a second transfer.
TEST_F(DownloadFlowTest, RequestsWhileADownloadIsBeingSetUpAreDropped) {
    StartHost();
    platform.desktop.saveDialogAnswer = (folder / "chosen.exe").string();
    platform.desktop.whileSaveDialogOpen = [&] {
        platform.webView.DeliverPageMessage((R"({"msg_type":"dnld","msg_data":{"url":")" +
                                             files.Url("/files/Setup.exe") +
                                             R"(","silent":true}})"));
    };
    // Two requests before the queue is pumped: the first opens the dialog (which delivers a
    // third), the second arrives while the start message is still queued.
    const std::string request = (R"({"msg_type":"dnld","msg_data":{"url":")" +
                                 files.Url("/files/Setup.exe") + R"(","silent":false}})");
    platform.webView.DeliverPageMessage(request);
    platform.webView.DeliverPageMessage(request);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));

    EXPECT_EQ(platform.desktop.saveDialogs.size(), 1u);
    size_t starts = 0;
    for (const auto& message : platform.window.PostedMessages())
        starts += message.id == WM_DNLD_START;
    EXPECT_EQ(starts, 1u);
    EXPECT_FALSE(std::filesystem::exists(Downloads() / "Setup.exe"));
}

// A disk without room for the announced length fails the download before its body is written.
TEST_F(DownloadFlowTest, NoRoomForTheInstallerFailsAtOnceAsAFileFailure) {
    StartHost();
    platform.system.Inject(platform::headless::HeadlessSystem::Fault::DownloadNoRoom);
    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_failed"));
    EXPECT_EQ(
        Notices(),
        (std::vector<std::string>{
            R"({"msg_type":"dnld","status":1,"status_text":"dnld_start"})",
            R"({"file_name":"Setup.exe","folder_name":"Downloads","msg_type":"dl_file"})",
            R"({"msg_type":"dnld","reason":"file","status":0,"status_text":"dnld_failed"})"}));
    EXPECT_TRUE(std::filesystem::is_empty(Downloads()));

    platform.system.Heal(platform::headless::HeadlessSystem::Fault::DownloadNoRoom);
    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    EXPECT_EQ(ReadFileBytes(Downloads() / "Setup.exe"), installer);
}

// When the user looks elsewhere, the desktop tells them how the download ended, with the
// product's name; a cancel they made themselves needs no telling.
TEST_F(DownloadFlowTest, TheOutcomeIsNotifiedOnlyWhenTheWindowIsNotActive) {
    infoAnswer = R"({"code":200,"data":{"name":"Demo App","url1":"http://127.0.0.1:1/"}})";
    std::ofstream(options.configPath) << "[root]\ndownloader_id=7\n";
    using Shown = platform::headless::HeadlessDesktop::NotificationShown;
    struct Case {
        const char* path;
        bool active;
        bool cancel;
        std::vector<Shown> expected;
    };
    const Case cases[] = {
        {"/files/Setup.exe", true, false, {}},
        {"/files/Setup.exe", false, false, {{"Demo App", "The download has finished."}}},
        {"/files/missing.exe", false, false, {{"Demo App", "The download did not finish."}}},
        {"/files/stall.exe", false, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        host.reset();
        platform.desktop.notifications.clear();
        platform.webView.notices.clear();
        StartHost();
        platform.window.active = c.active;
        RequestDownload(c.path, true);
        if (c.cancel) {
            ASSERT_TRUE(WaitForNotice("dnld_start"));
            Send(R"({"msg_type":"dnld_cancel"})");
        }
        ASSERT_TRUE(WaitForNotice(c.cancel || std::string(c.path) == "/files/missing.exe"
                                      ? "dnld_failed"
                                      : "dnld_finished"));
        EXPECT_EQ(platform.desktop.notifications, c.expected);
        std::error_code ignored;
        std::filesystem::remove(Downloads() / "Setup.exe", ignored);
    }
}

// The host's own texts follow the user's languages as the desktop lists them: the original
// Chinese texts for a Chinese locale, German for German, English for the rest.
TEST_F(DownloadFlowTest, HostTextsFollowTheUsersLanguages) {
    infoAnswer = R"({"code":200,"data":{"name":"Demo App","url1":"http://127.0.0.1:1/"}})";
    struct Texts {
        std::string boxText;
        std::string boxCaption;
        std::vector<std::string> filters;
        std::vector<std::string> notifications;
        bool operator==(const Texts&) const = default;
    };
    // The box's first line is what it always said; the cause follows.
    const Texts chinese{"运行安装程序失败，请手动执行...\n\n安装程序尚未下载完成。",
                        "运行失败",
                        {"应用程序(*.exe)", "所有文件(*.*)"},
                        {"下载未完成。", "下载已完成。"}};
    const Texts german{
        "Das Installationsprogramm konnte nicht gestartet werden. Bitte starten Sie es "
        "selbst...\n\nEs wurde noch kein Download des Installationsprogramms abgeschlossen.",
        "Start fehlgeschlagen",
        {"Anwendungen (*.exe)", "Alle Dateien (*.*)"},
        {"Der Download wurde nicht abgeschlossen.", "Der Download ist abgeschlossen."}};
    const Texts english{"Could not run the installer. Please run it yourself...\n\n"
                        "No download of the installer has finished.",
                        "Run failed",
                        {"Applications (*.exe)", "All files (*.*)"},
                        {"The download did not finish.", "The download has finished."}};
    struct Case {
        std::vector<std::string> languages;
        const Texts& expected;
    };
    // Lists as GLib makes them from LANG and LANGUAGE.
    const Case cases[] = {
        {{"zh_CN.UTF-8", "zh_CN", "zh.UTF-8", "zh", "C"}, chinese},
        {{"de_DE.UTF-8", "de_DE", "de.UTF-8", "de", "C"}, german},
        {{"en_US.UTF-8", "en_US", "en.UTF-8", "en", "C"}, english},
        {{"C"}, english},
        {{"zh_TW.UTF-8", "zh_TW", "zh", "C"}, chinese},
        {{"fr_FR.UTF-8", "fr_FR", "fr", "de_AT", "de", "C"}, german},
        {{"en_GB", "en", "de_DE", "de", "C"}, english},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.languages.front());
        host.reset();
        platform.webView.notices.clear();
        platform.desktop = {};
        platform.desktop.downloadsFolder = Downloads().string();
        platform.desktop.languages = c.languages;
        platform.desktop.saveDialogAnswer = (folder / "chosen.exe").string();
        StartHost();
        platform.window.active = false;
        Send(R"({"msg_type":"install"})");
        RequestDownload("/files/missing.exe", true);
        ASSERT_TRUE(WaitForNotice("dnld_failed"));
        RequestDownload("/files/Setup.exe", false);
        ASSERT_TRUE(WaitForNotice("dnld_finished"));

        Texts observed;
        ASSERT_EQ(platform.desktop.messageBoxes.size(), 1u);
        observed.boxText = platform.desktop.messageBoxes[0].text;
        observed.boxCaption = platform.desktop.messageBoxes[0].caption;
        ASSERT_EQ(platform.desktop.saveDialogs.size(), 1u);
        for (const auto& filter : platform.desktop.saveDialogs[0].filters)
            observed.filters.push_back(filter.label);
        for (const auto& notification : platform.desktop.notifications)
            observed.notifications.push_back(notification.body);
        EXPECT_EQ(observed, c.expected);
        std::filesystem::remove(folder / "chosen.exe");
    }
}

// The step log (TARVIK_LOG=1) on a whole road: configuration, info request, navigation, page
// commands, notices, event reports, a failed and a finished download, the install. Each step
// leaves its line; the page's message text, URL credentials and the full uuid never show.
TEST_F(DownloadFlowTest, TheStepLogShowsEachStepAndNoSecrets) {
    std::mutex linesMutex;
    std::vector<std::string> lines;
    log::SetSink([&](std::string_view line) {
        const std::lock_guard lock(linesMutex);
        lines.emplace_back(line);
    });
    log::Enable(true);
    struct Restore {
        ~Restore() {
            log::Enable(false);
            log::SetSink({});
        }
    } restore;

    const std::string uuid = "7E9010F02011A07Bq3ZkT0aLw9hYcV2e";
    std::ofstream(options.configPath) << "[root]\ndownloader_id=7\n[user]\nuuid=" << uuid << "\n";
    options.infoEndpoint =
        "http://vendor:hunter2@" + service.Url("/downloader.php/index/info").substr(7);
    infoAnswer = R"({"code":200,"data":{"name":"Demo App","url1":"http://127.0.0.1:1/page"}})";
    platform.desktop.downloadsFolder = Downloads().string();
    StartHost();
    // Credentials in the download's address, and a page message with a member the log must not
    // repeat.
    const std::string withCredentials = "http://user:s3cret@" + files.Url("/files/").substr(7);
    Send(R"({"msg_type":"dnld","msg_data":{"url":")" + withCredentials +
         R"(missing.exe","silent":true,"note":"page-private-text"}})");
    ASSERT_TRUE(WaitForNotice("dnld_failed"));
    Send(R"({"msg_type":"dnld","msg_data":{"url":")" + withCredentials +
         R"(Setup.exe","silent":true}})");
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    Send(R"({"msg_type":"post_data","msg_data":{"event_id":"install_clicked"}})");
    Send(R"({"msg_type":"install"})");
    Send(R"({"not_a_command":"page-private-text"})");
    Send(R"({"msg_type":"x\ntarvik: forged line"})");
    Send("page-private-text");
    // The event report's line comes from the sender's thread once the service has answered.
    Events();

    const std::lock_guard lock(linesMutex);
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    const std::string infoUrl = service.Url("/downloader.php/index/info?id=7");
    const std::string expectedSteps[] = {
        "config: " + options.configPath.string() + ": downloader_id 7, info URL " + infoUrl +
            ", uuid 7E90... (32 characters)",
        "service: info request " + infoUrl,
        "service: info answer: HTTP 200, No error",
        "service: info ok, name Demo App, page http://127.0.0.1:1/page",
        "page: navigating to http://127.0.0.1:1/page",
        "page command: dnld",
        "download: " + files.Url("/files/missing.exe") + " to " +
            (Downloads() / "missing.exe").string(),
        R"(notice: {"msg_type":"dnld","status":1,"status_text":"dnld_start"})",
        "download: failed, reason http",
        R"(notice: {"msg_type":"dnld","reason":"http","status":0,"status_text":"dnld_failed"})",
        "download: finished: " + (Downloads() / "Setup.exe").string(),
        R"(notice: {"msg_type":"dnld","status":2,"status_text":"dnld_finished"})",
        "page command: post_data",
        "service: event install_clicked reported: ok",
        "page command: install",
        "install: starting " + (Downloads() / "Setup.exe").string(),
        "page command ignored: not a command (37 bytes)",
        "page command ignored: not a command (17 bytes)",
        "page command: x?tarvik: forged line",
    };
    for (const std::string& step : expectedSteps)
        EXPECT_NE(std::find(lines.begin(), lines.end(), step), lines.end())
            << "missing: " << step << "\nlog:\n"
            << all;
    for (const char* secret : {"hunter2", "s3cret", "page-private-text", "msg_data", uuid.c_str()})
        EXPECT_EQ(all.find(secret), std::string::npos) << secret << " in the log:\n" << all;
}

TEST_F(DownloadFlowTest, FailureIsToldToThePageAndARetrySucceeds) {
    StartHost();
    RequestDownload("/files/missing.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_failed"));
    EXPECT_EQ(Notices().back(),
              R"({"msg_type":"dnld","reason":"http","status":0,"status_text":"dnld_failed"})");
    EXPECT_EQ(host->downloadState(), DownloadState::Idle);
    EXPECT_FALSE(std::filesystem::exists(Downloads() / "missing.exe"));

    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    EXPECT_EQ(ReadFileBytes(Downloads() / "Setup.exe"), installer);
}

TEST_F(DownloadFlowTest, CancelStopsTheTransferRemovesItsFileAndAllowsANewDownload) {
    StartHost();
    RequestDownload("/files/stall.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_start"));
    ASSERT_TRUE(platform.window.PumpUntil([&] { return stalling.load(); }, 10s));
    platform.webView.notices.clear();
    Send(R"({"msg_type":"dnld_cancel"})");
    EXPECT_EQ(Notices(), std::vector<std::string>{R"({"msg_type":"dnld","reason":"cancelled",)"
                                                  R"("status":0,"status_text":"dnld_failed"})"});
    EXPECT_EQ(host->downloadState(), DownloadState::Idle);
    // The cancel does not wait for the worker, which removes its file in the background.
    EXPECT_TRUE(DownloadsEmptiesSoon());

    // Nothing to cancel any more: a second cancel says nothing.
    platform.webView.notices.clear();
    Send(R"({"msg_type":"dnld_cancel"})");
    platform.window.Pump();
    EXPECT_TRUE(Notices().empty());

    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    EXPECT_EQ(ReadFileBytes(Downloads() / "Setup.exe"), installer);
}

// A page may send "dnld" again to learn where the download stands; after the end it hears the
// finished notice each time, but the user is told of the end once.
TEST_F(DownloadFlowTest, AskingAgainAfterTheEndRepeatsTheNoticeButNotTheNotification) {
    StartHost();
    platform.window.active = false;
    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    platform.webView.notices.clear();
    for (int i = 0; i < 3; ++i)
        RequestDownload("/files/Setup.exe", true);
    Send(R"({"msg_type":"dnld"})");
    EXPECT_EQ(Notices(), std::vector<std::string>(4, kFinished));
    EXPECT_EQ(platform.desktop.notifications.size(), 1u);
    EXPECT_EQ(host->downloadState(), DownloadState::Finished);
}

// The page cancels a download it has just asked for, before the host has told it the start: the
// download being started is the one cancelled, wherever its start is.
TEST_F(DownloadFlowTest, ACancelBeforeTheStartIsToldCancelsTheDownloadBeingStarted) {
    const std::string cancelled =
        R"({"msg_type":"dnld","reason":"cancelled","status":0,"status_text":"dnld_failed"})";
    const std::string cancel = R"({"msg_type":"dnld_cancel"})";
    struct Case {
        const char* name;
        bool silent;
    };
    const Case cases[] = {
        // Both messages arrive before the queue is handled: the start message is still queued.
        {"its start is queued", true},
        // The page cancels while the save dialog is open; the user then picks a file anyway.
        {"its save dialog is open", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.reset();
        platform.webView.notices.clear();
        platform.desktop = {};
        platform.desktop.downloadsFolder = Downloads().string();
        StartHost();
        if (!c.silent) {
            platform.desktop.saveDialogAnswer = (Downloads() / "chosen.exe").string();
            platform.desktop.whileSaveDialogOpen = [&] {
                platform.webView.DeliverPageMessage(cancel);
            };
        }
        platform.webView.DeliverPageMessage(R"({"msg_type":"dnld","msg_data":{"url":")" +
                                            files.Url("/files/stall.exe") + R"(","silent":)" +
                                            (c.silent ? "true" : "false") + "}}");
        if (c.silent)
            platform.webView.DeliverPageMessage(cancel);
        platform.window.Pump();

        EXPECT_EQ(Notices(), std::vector<std::string>{cancelled});
        EXPECT_EQ(host->downloadState(), DownloadState::Idle);
        EXPECT_TRUE(DownloadsEmptiesSoon());
        // Nothing is left running: the page can close, and a new download goes ahead.
        platform.desktop.whileSaveDialogOpen = nullptr;
        platform.webView.notices.clear();
        RequestDownload("/files/Setup.exe", c.silent);
        ASSERT_TRUE(WaitForNotice("dnld_finished"));
        EXPECT_EQ(Notices().front(), kStart);
        std::filesystem::remove_all(Downloads());
        std::filesystem::create_directory(Downloads());
    }
}

// A cancel that comes while the file is being put in place (past the point where the transfer
// could still be stopped) neither holds the window until the commit ends nor turns a download
// that is finishing into a cancelled one: the page hears finished, once, and the file is there
// to install.
TEST_F(DownloadFlowTest, ACancelWhileTheFileIsCommittedNeitherWaitsNorStopsIt) {
    StallGate commit;
    std::atomic<bool> committing = false;
    platform.system.WhileCommitting([&] {
        committing = true;
        commit.Wait();
    });
    StartHost();
    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(platform.window.PumpUntil([&] { return committing.load(); }, 10s));

    // Should the cancel wait for the worker, the commit goes on after 5 s, and the test knows.
    std::mutex mutex;
    std::condition_variable cancelled;
    bool returned = false;
    std::atomic<bool> openedByTimeout = false;
    std::thread fallback([&] {
        std::unique_lock lock(mutex);
        if (!cancelled.wait_for(lock, 5s, [&] { return returned; }))
            openedByTimeout = true;
        commit.Open();
    });
    Send(R"({"msg_type":"dnld_cancel"})");
    {
        const std::lock_guard lock(mutex);
        returned = true;
    }
    cancelled.notify_all();
    fallback.join();
    EXPECT_FALSE(openedByTimeout) << "the cancel waited for the commit";

    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    platform.window.PumpUntil([] { return false; }, 100ms);
    std::vector<std::string> ends;
    for (const std::string& notice : Notices())
        if (notice.find("\"dnld\"") != std::string::npos)
            ends.push_back(notice);
    EXPECT_EQ(ends, (std::vector<std::string>{kStart, kFinished}));
    EXPECT_EQ(host->downloadState(), DownloadState::Finished);

    // The download is the finished one: asked again it says so, and it installs.
    platform.system.WhileCommitting(nullptr);
    platform.webView.notices.clear();
    RequestDownload("/files/Setup.exe", true);
    EXPECT_EQ(Notices(), std::vector<std::string>{kFinished});
    Send(R"({"msg_type":"install"})");
    EXPECT_EQ(platform.desktop.startedInstallers,
              std::vector<std::string>{(Downloads() / "Setup.exe").string()});
    EXPECT_EQ(ReadFileBytes(Downloads() / "Setup.exe"), installer);
}

TEST_F(DownloadFlowTest, EndingTheHostMidTransferStopsPromptlyAndLeavesNoPartialFile) {
    // Only the host's stop can end this transfer soon: its own stall limit is far off.
    options.transferLimits.lowSpeedTime = 30s;
    StartHost();
    RequestDownload("/files/stall.exe", true);
    ASSERT_TRUE(platform.window.PumpUntil(
        [&] { return host->downloadState() == DownloadState::Running && stalling; }, 10s));
    Send(R"({"msg_type":"close","msg_data":{"force_close":true}})");
    EXPECT_EQ(platform.window.endDialogResult, 1);

    const auto begin = std::chrono::steady_clock::now();
    host.reset();
    // Far below the stall limit, with room for a busy machine: the stop, not the limit, ended it.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
    EXPECT_TRUE(std::filesystem::is_empty(Downloads()));
}

std::set<std::string> NamesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = Utf8FromPath(entry.path().filename());
#ifdef _WIN32
        // The Mark of the Web is a stream of the file on NTFS, never a name in the folder; Wine
        // keeps it as a file "<name>:Zone.Identifier" beside it, a name Windows cannot have.
        if (name.find(':') != std::string::npos)
            continue;
#endif
        names.insert(std::move(name));
    }
    return names;
}

// A silent download never replaces what the user has: not an earlier installer of that name,
// not its numbered copies, not a file that merely looks like a temporary one.
TEST_F(DownloadFlowTest, ASilentDownloadTakesTheNextFreeNumberAndTouchesNoOtherFile) {
    const std::vector<std::pair<std::string, std::string>> existing = {
        {"Setup.exe", "the user's Setup.exe"},
        {"Setup (1).exe", "the user's Setup (1).exe"},
        {"Setup.exe.part", "the user's own .part file"},
        {".Setup.exe.part", "another .part file"},
    };
    for (const auto& [name, bytes] : existing)
        WriteFileBytes(Downloads() / name, bytes);
    StartHost();

    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));

    const auto saved = Downloads() / "Setup (2).exe";
    EXPECT_EQ(ReadFileIfPresent(saved), installer);
    for (const auto& [name, bytes] : existing)
        EXPECT_EQ(ReadFileIfPresent(Downloads() / name), bytes) << name;
    EXPECT_EQ(NamesIn(Downloads()).size(), existing.size() + 1);
    EXPECT_EQ(host->filePath(), Utf8FromPath(saved));
    Send(R"({"msg_type":"install"})");
    EXPECT_EQ(platform.desktop.startedInstallers, std::vector<std::string>{saved.string()});
}

TEST_F(DownloadFlowTest, TheHashThePageGivesDecidesTheOutcome) {
    download::Sha256 sha;
    sha.Update(installer);
    const auto digest = *sha.Finish();
    std::string right;
    for (const uint8_t byte : digest) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        right += kDigits[byte >> 4];
        right += kDigits[byte & 0xF];
    }
    std::string wrong = right;
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    struct Case {
        std::string sha256; // the member's JSON text
        std::vector<std::string> ends;
        bool saved;
    };
    const std::string verifyFailed =
        R"({"msg_type":"dnld","reason":"verify","status":0,"status_text":"dnld_failed"})";
    const Case cases[] = {
        {'"' + right + '"', {kFinished}, true},
        {'"' + wrong + '"', {verifyFailed}, false},
        // Malformed: the whole message is ignored.
        {'"' + right.substr(1) + '"', {}, false},
        {'"' + right + "0\"", {}, false},
        {"\"" + std::string(64, 'g') + '"', {}, false},
        {"null", {}, false},
        {"42", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sha256);
        host.reset();
        platform.webView.notices.clear();
        StartHost();
        Send(R"({"msg_type":"dnld","msg_data":{"url":")" + files.Url("/files/Setup.exe") +
             R"(","silent":true,"sha256":)" + c.sha256 + "}}");
        if (!c.ends.empty()) {
            ASSERT_TRUE(WaitForNotice(c.saved ? "dnld_finished" : "dnld_failed"));
        } else {
            platform.window.PumpUntil([] { return false; }, 200ms);
        }
        std::vector<std::string> ends;
        for (const auto& notice : Notices()) {
            if (notice.find("dnld_finished") != std::string::npos ||
                notice.find("dnld_failed") != std::string::npos)
                ends.push_back(notice);
        }
        EXPECT_EQ(ends, c.ends);
        if (c.ends.empty()) {
            EXPECT_EQ(Notices(), std::vector<std::string>{}) << "a malformed request is ignored";
        }
        EXPECT_EQ(NamesIn(Downloads()).size(), c.saved ? 1u : 0u);
        std::error_code ignored;
        std::filesystem::remove(Downloads() / "Setup.exe", ignored);
    }
}

#ifndef _WIN32
// A build with the vendor's key starts only an installer whose signature by that key holds,
// whether the signature is fetched beside the file or given by the page; any other download
// fails with "verify", leaves nothing in Downloads, and "install" starts nothing.
TEST_F(DownloadFlowTest, WithAKeyBuiltInOnlyASignedInstallerIsStarted) {
    const MinisignTool vendor;
    const MinisignTool stranger;
    std::mutex signatureMutex;
    std::optional<std::string> served;
    files.server.Get("/files/Setup.exe.minisig", [&](const auto&, auto& response) {
        const std::lock_guard lock(signatureMutex);
        if (served) {
            response.set_content(*served, "text/plain");
        } else {
            response.status = 404;
        }
    });
    options.installerKey = vendor.publicKey();
    const std::string verifyFailed =
        R"({"msg_type":"dnld","reason":"verify","status":0,"status_text":"dnld_failed"})";
    struct Case {
        const char* name = "";
        std::optional<std::string> served;
        std::optional<std::string> given; // the "minisig" member's text
        bool started = false;
    };
    const Case cases[] = {
        {"signature beside the file", vendor.Sign(installer), std::nullopt, true},
        {"signature from the page", std::nullopt, vendor.Sign(installer), true},
        {"the page's signature wins", vendor.Sign(installer), stranger.Sign(installer), false},
        {"another key's signature beside the file", stranger.Sign(installer), std::nullopt, false},
        {"no signature anywhere", std::nullopt, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            const std::lock_guard lock(signatureMutex);
            served = c.served;
        }
        host.reset();
        platform.webView.notices.clear();
        platform.desktop.startedInstallers.clear();
        StartHost();
        nlohmann::json data = {{"url", files.Url("/files/Setup.exe")}, {"silent", true}};
        if (c.given)
            data["minisig"] = *c.given;
        Send(nlohmann::json{{"msg_type", "dnld"}, {"msg_data", data}}.dump());
        ASSERT_TRUE(WaitForNotice(c.started ? "dnld_finished" : "dnld_failed"));
        EXPECT_EQ(Notices().back(), c.started ? kFinished : verifyFailed);
        Send(R"({"msg_type":"install"})");

        const std::filesystem::path saved = Downloads() / "Setup.exe";
        EXPECT_EQ(NamesIn(Downloads()),
                  c.started ? std::set<std::string>{"Setup.exe"} : std::set<std::string>{});
        EXPECT_EQ(platform.desktop.startedInstallers, c.started
                                                          ? std::vector<std::string>{saved.string()}
                                                          : std::vector<std::string>{});
        std::error_code ignored;
        std::filesystem::remove(saved, ignored);
    }
}
#endif

// A build with the vendor's publisher built in starts only an installer whose code signature the
// system accepts as that publisher's (the system's answer is scripted here; the real one is
// tested on Windows); any other answer fails the download with "verify", leaves nothing in
// Downloads, and "install" starts nothing.
TEST_F(DownloadFlowTest, WithAPublisherBuiltInOnlyATrustedInstallerIsStarted) {
    options.installerPublisher = "Tarvik Test Vendor";
    const std::string verifyFailed =
        R"({"msg_type":"dnld","reason":"verify","status":0,"status_text":"dnld_failed"})";
    struct Case {
        const char* name = "";
        platform::PublisherCheck answer = platform::PublisherCheck::Unavailable;
        bool started = false;
    };
    const Case cases[] = {
        {"signed by the publisher", platform::PublisherCheck::Trusted, true},
        {"unsigned", platform::PublisherCheck::Unsigned, false},
        {"signed by someone else", platform::PublisherCheck::PublisherMismatch, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.system.AnswerPublisherCheck(c.answer);
        const size_t callsBefore = platform.system.Calls().size();
        host.reset();
        platform.webView.notices.clear();
        platform.desktop.startedInstallers.clear();
        StartHost();
        Send(
            nlohmann::json{{"msg_type", "dnld"},
                           {"msg_data", {{"url", files.Url("/files/Setup.exe")}, {"silent", true}}}}
                .dump());
        ASSERT_TRUE(WaitForNotice(c.started ? "dnld_finished" : "dnld_failed"));
        Send(R"({"msg_type":"install"})");

        // The download's end, then what "install" did: started, or nothing finished to start.
        const std::vector<std::string> notices = Notices();
        ASSERT_GE(notices.size(), 2u);
        EXPECT_EQ(notices[notices.size() - 2], c.started ? kFinished : verifyFailed);
        EXPECT_EQ(
            notices.back(),
            c.started
                ? R"({"msg_type":"install","status_text":"install_started"})"
                : R"({"msg_type":"install","reason":"no_file","status_text":"install_failed"})");
        const std::filesystem::path saved = Downloads() / "Setup.exe";
        EXPECT_EQ(NamesIn(Downloads()),
                  c.started ? std::set<std::string>{"Setup.exe"} : std::set<std::string>{});
        EXPECT_EQ(platform.desktop.startedInstallers, c.started
                                                          ? std::vector<std::string>{saved.string()}
                                                          : std::vector<std::string>{});
        // Asked once, for the built-in name.
        std::vector<std::string> asked;
        const auto calls = platform.system.Calls();
        for (size_t i = callsBefore; i < calls.size(); ++i)
            if (calls[i].operation == "DownloadFile::CheckPublisher")
                asked.push_back(calls[i].argument);
        EXPECT_EQ(asked, std::vector<std::string>{"Tarvik Test Vendor"});
        std::error_code ignored;
        std::filesystem::remove(saved, ignored);
    }
}

// After retries run out the page hears "network"; its own retry of the same URL continues the
// part that was kept, and the part never outlives the host.
TEST_F(DownloadFlowTest, ThePagesRetryContinuesTheKeptPart) {
    std::string body(3'000'000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + i / 1000);
    using Rule = RangeServer::Rule;
    const uint64_t half = body.size() / 2;
    const std::vector<Rule> drops = {Rule::DropAfter(half), Rule::DropAfter(0), Rule::DropAfter(0),
                                     Rule::DropAfter(0)};
    std::optional<RangeServer> server;
    const auto request = [&] {
        Send(R"({"msg_type":"dnld","msg_data":{"url":")" + server->Url() + R"(","silent":true}})");
    };
    for (const bool retry : {true, false}) {
        SCOPED_TRACE(retry ? "the page retries" : "the host ends");
        server.emplace(body, drops);
        host.reset();
        platform.webView.notices.clear();
        StartHost();
        request();
        ASSERT_TRUE(WaitForNotice("dnld_failed"));
        EXPECT_EQ(
            Notices().back(),
            R"({"msg_type":"dnld","reason":"network","status":0,"status_text":"dnld_failed"})");
        EXPECT_EQ(NamesIn(Downloads()).size(), 1u) << "the kept part";
        if (!retry) {
            host.reset();
            EXPECT_TRUE(NamesIn(Downloads()).empty());
            break;
        }
        request();
        ASSERT_TRUE(WaitForNotice("dnld_finished"));
        EXPECT_EQ(ReadFileIfPresent(Downloads() / "file"), body);
        EXPECT_EQ(server->Requests().back(),
                  (RangeServer::Request{"bytes=" + std::to_string(half) + "-", "\"v1\"", 206}));
        EXPECT_EQ(NamesIn(Downloads()), std::set<std::string>{"file"});
        std::filesystem::remove(Downloads() / "file");
    }
}

// The page is told the file's own name and its folder's name, as the file is saved: another
// name chosen in the save dialog, or the next free number of a silent download.
TEST_F(DownloadFlowTest, ThePageIsToldTheNameTheFileIsSavedUnder) {
    struct Case {
        const char* name;
        std::vector<std::string> existing; // files in Downloads before the download
        bool silent;
        std::string chosen;                // in the save dialog, under the test's folder
        std::vector<std::string> expected; // the download's file notices
        std::string saved; // the file that holds the installer, in Downloads or chosen
    };
    const auto file = [](const std::string& name, const std::string& folder) {
        return nlohmann::json{{"file_name", name}, {"folder_name", folder}, {"msg_type", "dl_file"}}
            .dump();
    };
    const Case cases[] = {
        {"silent", {}, true, "", {file("Setup.exe", "Downloads")}, "Setup.exe"},
        {"silent beside an older installer",
         {"Setup.exe"},
         true,
         "",
         {file("Setup (1).exe", "Downloads")},
         "Setup (1).exe"},
        {"save as another name",
         {},
         false,
         "Chosen Folder/My Setup 2.exe",
         {file("My Setup 2.exe", "Chosen Folder")},
         "Chosen Folder/My Setup 2.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.reset();
        platform.webView.notices.clear();
        std::filesystem::remove_all(Downloads());
        std::filesystem::create_directories(Downloads());
        for (const std::string& name : c.existing)
            WriteFileBytes(Downloads() / name, "older");
        if (!c.chosen.empty()) {
            std::filesystem::create_directories((folder / c.chosen).parent_path());
            platform.desktop.saveDialogAnswer = Utf8FromPath(folder / c.chosen);
        }
        StartHost();
        RequestDownload("/files/Setup.exe", c.silent);
        ASSERT_TRUE(WaitForNotice("dnld_finished"));
        std::vector<std::string> told;
        for (const std::string& notice : Notices())
            if (notice.find("dl_file") != std::string::npos)
                told.push_back(notice);
        EXPECT_EQ(told, c.expected);
        EXPECT_EQ(Notices()[1], c.expected.front()) << "right after the start";
        const std::filesystem::path saved =
            c.chosen.empty() ? Downloads() / c.saved : folder / c.saved;
        EXPECT_EQ(ReadFileIfPresent(saved), installer);
    }
}

// A file that takes the predicted name while the download runs pushes it to the next number:
// the page is told the new name before the end.
TEST_F(DownloadFlowTest, ANameTakenDuringTheDownloadIsToldAgainBeforeTheEnd) {
    StartHost();
    RequestDownload("/files/held.exe", true);
    ASSERT_TRUE(WaitForNotice("dl_file"));
    WriteFileBytes(Downloads() / "held.exe", "the user's own");
    released = true;
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    const auto notices = Notices();
    ASSERT_GE(notices.size(), 4u);
    EXPECT_EQ(notices[1],
              R"({"file_name":"held.exe","folder_name":"Downloads","msg_type":"dl_file"})");
    EXPECT_EQ(notices[notices.size() - 2],
              R"({"file_name":"held (1).exe","folder_name":"Downloads","msg_type":"dl_file"})");
    EXPECT_EQ(ReadFileIfPresent(Downloads() / "held (1).exe"), installer);
    EXPECT_EQ(ReadFileIfPresent(Downloads() / "held.exe"), "the user's own");
}

// A lost connection is told to the page as it is made again, numbered in the download, and the
// download goes on; a download without a length reports its bytes so far, never a total.
TEST_F(DownloadFlowTest, ReconnectionsAndBytesWithoutALengthAreToldToThePage) {
    using Rule = RangeServer::Rule;
    std::string body(1'000'000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 13 + i / 977);
    // Two drops in a row: the first after bytes (retried at once), the second before any.
    RangeServer server(body, {Rule::DropAfter(300'000), Rule::DropAfter(0)});
    StartHost();
    Send(R"({"msg_type":"dnld","msg_data":{"url":")" + server.Url() + R"(","silent":true}})");
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    std::vector<std::string> road;
    for (const std::string& notice : Notices())
        if (notice.find("dl_progress") == std::string::npos)
            road.push_back(notice);
    EXPECT_EQ(road,
              (std::vector<std::string>{
                  kStart, R"({"file_name":"file","folder_name":"Downloads","msg_type":"dl_file"})",
                  R"({"attempt":1,"msg_type":"dl_retry"})",
                  R"({"attempt":2,"msg_type":"dl_retry"})", kFinished}));
    EXPECT_EQ(ReadFileIfPresent(Downloads() / "file"), body);

    host.reset();
    platform.webView.notices.clear();
    StartHost();
    RequestDownload("/files/nolength.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    uint64_t last = 0;
    size_t received = 0;
    for (const std::string& notice : Notices()) {
        EXPECT_EQ(notice.find("dl_progress"), std::string::npos) << notice;
        const nlohmann::json parsed = nlohmann::json::parse(notice);
        if (parsed["msg_type"] != "dl_received")
            continue;
        ++received;
        EXPECT_EQ(parsed.size(), 2u) << notice;
        const uint64_t now = parsed["dl_now"].get<uint64_t>();
        EXPECT_GT(now, 0u);
        EXPECT_GE(now, last) << "never falling";
        EXPECT_LE(now, installer.size());
        last = now;
    }
    EXPECT_GT(received, 0u);
    EXPECT_EQ(Notices()[Notices().size() - 2], R"({"dl_now":200000,"msg_type":"dl_received"})")
        << "the last figures come before the end";
}

// "install" tells the page how the start ended; a failure's box keeps its first line and adds
// why and where the file is, and a second "install" while the first waits at its authorisation
// prompt starts nothing.
TEST_F(DownloadFlowTest, InstallTellsThePageHowTheStartEndedAndNeverStartsTwice) {
    struct Case {
        InstallerStart outcome;
        std::string notice;
        std::string cause; // the box's second paragraph; none when it started
    };
    const Case cases[] = {
        {InstallerStart::Started, R"({"msg_type":"install","status_text":"install_started"})", ""},
        {InstallerStart::Dismissed,
         R"({"msg_type":"install","reason":"dismissed","status_text":"install_failed"})",
         "The request for administrator rights was dismissed or refused."},
        {InstallerStart::NotAuthorized,
         R"({"msg_type":"install","reason":"not_authorized","status_text":"install_failed"})",
         "Administrator rights could not be asked for or were not given: no authentication agent "
         "is running, or the password was not accepted."},
        {InstallerStart::NotExecutable,
         R"({"msg_type":"install","reason":"not_executable","status_text":"install_failed"})",
         "The installer cannot be run from where it is saved."},
    };
    StartHost();
    RequestDownload("/files/Setup.exe", true);
    ASSERT_TRUE(WaitForNotice("dnld_finished"));
    const std::string saved = Utf8FromPath(Downloads() / "Setup.exe");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(ReasonText(c.outcome)));
        platform.desktop.messageBoxes.clear();
        platform.desktop.revealedPaths.clear();
        platform.desktop.startedInstallers.clear();
        platform.desktop.installerStart = c.outcome;
        platform.desktop.answerInstallerStartLater = true;
        platform.webView.notices.clear();
        Send(R"({"msg_type":"install"})");
        Send(R"({"msg_type":"install"})"); // the second Enter, while the prompt is open
        EXPECT_TRUE(Notices().empty());
        platform.desktop.AnswerInstallerStarts();
        platform.window.Pump();

        EXPECT_EQ(platform.desktop.startedInstallers, std::vector<std::string>{saved});
        EXPECT_EQ(Notices(), std::vector<std::string>{c.notice});
        std::vector<platform::headless::HeadlessDesktop::MessageBoxShown> boxes;
        std::vector<std::string> revealed;
        if (!c.cause.empty()) {
            boxes.push_back({"Could not run the installer. Please run it yourself...\n\n" +
                                 c.cause +
                                 "\n\nThe installer is saved here, and is shown in its folder "
                                 "next:\n" +
                                 saved,
                             "Run failed"});
            revealed.push_back(saved);
        }
        EXPECT_EQ(platform.desktop.messageBoxes, boxes);
        EXPECT_EQ(platform.desktop.revealedPaths, revealed);
    }
    // Once the outcome is known, the page may start the installer again.
    platform.desktop.answerInstallerStartLater = false;
    platform.desktop.startedInstallers.clear();
    Send(R"({"msg_type":"install"})");
    EXPECT_EQ(platform.desktop.startedInstallers, std::vector<std::string>{saved});
}

} // namespace
} // namespace tarvik::testing
