#include "host_fixture.h"

#include <chrono>
#include <fstream>
#include <thread>

namespace tarvik::testing {

HostFixture::HostFixture() {
    platform.desktop.downloadsFolder = (folder / "Downloads").string();
    std::filesystem::create_directory(folder / "Downloads");

    service.server.Get("/downloader.php/index/info", [this](const auto&, auto& response) {
        ++infoRequests;
        if (holdInfo)
            infoGate.Wait();
        response.status = infoStatus;
        response.set_content(infoAnswer, "application/json");
    });
    service.server.Post("/downloader.php/index/log", [this](const auto& request, auto& response) {
        if (holdEvents)
            eventGate.Wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(eventDelayMs.load()));
        std::lock_guard lock(eventsMutex_);
        events_.push_back(request.has_file("event") ? request.get_file_value("event").content
                                                    : "<no event field>");
        response.set_content(R"({"code":200})", "application/json");
    });
    service.server.Get("/files/Setup.exe", [this](const auto&, auto& response) {
        if (holdAnswers)
            answerGate.Wait();
        response.set_content(kInstallerBody, "application/octet-stream");
    });
    service.server.Get("/files/missing.exe", [this](const auto&, auto& response) {
        if (holdAnswers)
            answerGate.Wait();
        response.status = 404;
        response.set_content("not here", "text/plain");
    });
    // No length, so no progress notice comes between a test's steps.
    service.server.Get("/files/stall.exe", [this](const auto&, auto& response) {
        response.set_chunked_content_provider(
            "application/octet-stream", [this](size_t, httplib::DataSink&) {
                while (!releaseStalls)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                return false;
            });
    });
    service.Start();

    options.configPath = folder / "config.ini";
    // A copy that stands for a package, so that the info request goes to the service.
    std::ofstream(options.configPath) << "[root]\ndownloader_id=1001\n";
    options.infoEndpoint = service.Url("/downloader.php/index/info");
    options.logEndpoint = service.Url("/downloader.php/index/log");
    options.serviceLimits = {std::chrono::milliseconds(2000), std::chrono::milliseconds(3000), {}};
    options.makeInstallId = [] { return std::wstring(L"TESTID"); };
}

HostFixture::~HostFixture() {
    // A service held back by a test answers now, so that nothing waits on it at the end.
    infoGate.Open();
    eventGate.Open();
    answerGate.Open();
    host.reset();
    releaseStalls = true;
    // The handlers use the fixture's fields, which go before the server would.
    service.Stop();
}

void HostFixture::StartHost(InfoAnswer wait) {
    host = std::make_unique<CTarvikDlg>(platform.Roles(), options);
    platform.window.Create(*host);
    host->OnInitDialog();
    platform.webView.CompleteCreation();
    // The service answers on the host's worker thread; the page is navigated once it has.
    if (wait == InfoAnswer::Awaited)
        platform.window.PumpUntil([this] { return host->infoAnswered(); },
                                  std::chrono::seconds(20));
}

void HostFixture::Send(const std::string& utf8Message) {
    platform.webView.DeliverPageMessage(utf8Message);
    platform.window.Pump();
}

std::string HostFixture::InstallerUrl(const std::string& name) const {
    return service.Url("/files/" + name);
}

void HostFixture::ReachDownloadState(DownloadState state) {
    if (state == DownloadState::Idle)
        return;
    const char* name = state == DownloadState::Running ? "stall.exe" : "Setup.exe";
    Send(R"({"msg_type":"dnld","msg_data":{"url":")" + InstallerUrl(name) + R"(","silent":true}})");
    ASSERT_TRUE(platform.window.PumpUntil([&] { return host->downloadState() == state; },
                                          std::chrono::seconds(10)));
}

std::vector<std::string> HostFixture::Notices() const {
    return platform.webView.notices;
}

std::vector<std::string> HostFixture::Events() {
    // Reports go out from the host's sender thread: what it has queued is waited for, for as
    // long as a busy machine may take.
    if (host) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!host->eventsIdle() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::lock_guard lock(eventsMutex_);
    return events_;
}

} // namespace tarvik::testing
