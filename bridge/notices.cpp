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
