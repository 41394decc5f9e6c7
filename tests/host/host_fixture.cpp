#include "host_fixture.h"

#include "common/text_conversion.h"

#include <cstdlib>

namespace tarvik::testing {

HostFixture::HostFixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-host-XXXXXX").string();
    folder = mkdtemp(pattern.data());
    platform.downloadsFolder = (folder / "Downloads").wstring();
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
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void HostFixture::StartHost() {
    host = std::make_unique<CTarvikDlg>(platform, system, options);
    platform.CreateHostWindow(*host);
    host->OnInitDialog();
    platform.CompleteWebViewCreation();
    platform.Pump();
}

void HostFixture::Send(const std::string& utf8Message) {
    platform.DeliverPageMessage(WideFromNarrow(utf8Message));
    platform.Pump();
}

std::vector<std::string> HostFixture::Notices() const {
    std::vector<std::string> notices;
    for (const auto& notice : platform.pageNotices)
        notices.push_back(NarrowFromWide(notice));
    return notices;
}

std::vector<std::string> HostFixture::Events() {
    std::lock_guard lock(eventsMutex_);
    return events_;
}

} // namespace tarvik::testing
