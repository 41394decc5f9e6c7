#include "bridge/notices.h"

#include "common/download_state.h"

#include <nlohmann/json.hpp>

namespace tarvik::bridge {

namespace {

using nlohmann::json;

uint32_t Status(DownloadState state) {
    return static_cast<uint32_t>(state);
}

} // namespace

std::string DownloadStartedNotice() {
    return json{{"msg_type", "dnld"},
                {"status", Status(DownloadState::Running)},
                {"status_text", "dnld_start"}}
        .dump();
}

std::string DownloadProgressNotice(const download::ProgressFigures& figures) {
    const double percent =
        static_cast<double>(figures.received) / static_cast<double>(figures.total) * 100.0;
    return json{{"dl_now", figures.received},
                {"dl_progress", percent},
                {"dl_total", figures.total},
                {"msg_type", "dl_progress"},
                {"status", true}}
        .dump();
}

std::string DownloadReceivedNotice(uint64_t received) {
    return json{{"dl_now", received}, {"msg_type", "dl_received"}}.dump();
}

std::string DownloadRetryNotice(uint64_t attempt) {
    return json{{"attempt", attempt}, {"msg_type", "dl_retry"}}.dump();
}

std::string DownloadFileNotice(const std::string& fileName, const std::string& folderName) {
    // A name that is not UTF-8 (a file system may hold any bytes) must not make dump() throw.
    return json{{"file_name", fileName}, {"folder_name", folderName}, {"msg_type", "dl_file"}}.dump(
        -1, ' ', false, json::error_handler_t::replace);
}

std::string DownloadFinishedNotice() {
    return json{{"msg_type", "dnld"},
                {"status", Status(DownloadState::Finished)},
                {"status_text", "dnld_finished"}}
        .dump();
}

std::string DownloadFailedNotice(DownloadFailure reason) {
    // A failed download is back to Idle, so that the page may offer to try again.
    return json{{"msg_type", "dnld"},
                {"reason", std::string(ReasonText(reason))},
                {"status", Status(DownloadState::Idle)},
                {"status_text", "dnld_failed"}}
        .dump();
}

std::string InstallNotice(InstallerStart outcome) {
    if (outcome == InstallerStart::Started)
        return json{{"msg_type", "install"}, {"status_text", "install_started"}}.dump();
    return json{{"msg_type", "install"},
                {"reason", std::string(ReasonText(outcome))},
                {"status_text", "install_failed"}}
        .dump();
}

std::string CloseWhileDownloadingNotice() {
    return json{{"msg_type", "close"}, {"status", 1}, {"status_text", "dnld_running"}}.dump();
}

std::string WindowStateNotice(WindowState state) {
    const char* name = state == WindowState::Minimized   ? "minimized"
                       : state == WindowState::Maximized ? "maximized"
                                                         : "normal";
    return json{{"msg_type", "window"}, {"state", name}}.dump();
}

} // namespace tarvik::bridge
