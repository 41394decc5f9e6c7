#include "host_fixture.h"

namespace tarvik::testing {

HostFixture::HostFixture() {
    platform.desktop.downloadsFolder = (folder / "Downloads").string();
    std::filesystem::create_directory(folder / "Downloads");

    service.server.Get("/downloader.php/index/info", [this](const auto&, auto& response) {
        response.set_content(infoAnswer, "application/json");
    });
    service.server.Post("/downloader.php/index/log", [this](const auto& request, auto& response) {
        std::lock_guard lock(eventsMutex_);
        events_.push_back(request.has_file("event") ? request.get_file_value("event").content
                                                    : "<no event field>");
        response.set_content(R"({"code":200})", "application/json");
    });
    service.Start();

    options.configPath = folder / "config.ini";
    options.infoEndpoint = service.Url("/downloader.php/index/info");
    options.logEndpoint = service.Url("/downloader.php/index/log");
    options.serviceLimits = {std::chrono::milliseconds(2000), std::chrono::milliseconds(3000)};
    options.makeInstallId = [] { return std::wstring(L"TESTID"); };
}

HostFixture::~HostFixture() {
    host.reset();
}

void HostFixture::StartHost() {
    host = std::make_unique<CTarvikDlg>(platform.Roles(), options);
    platform.window.Create(*host);
    host->OnInitDialog();
    platform.webView.CompleteCreation();
    platform.window.Pump();
}

void HostFixture::Send(const std::string& utf8Message) {
    platform.webView.DeliverPageMessage(utf8Message);
    platform.window.Pump();
}

std::vector<std::string> HostFixture::Notices() const {
    return platform.webView.notices;
}

std::vector<std::string> HostFixture::Events() {
    std::lock_guard lock(eventsMutex_);
    return events_;
}

} // namespace tarvik::testing
