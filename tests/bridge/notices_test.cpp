#include "bridge/notices.h"

#include <gtest/gtest.h>

namespace tarvik::bridge {
namespace {

TEST(Notices, ProgressIsExactJson) {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(DownloadProgressNotice({c.received, c.total}), c.expected);
    }
}

TEST(Notices, EveryOtherNoticeIsExactJson) {
    const std::pair<std::string, const char*> cases[] = {
        {DownloadStartedNotice(), R"({"msg_type":"dnld","status":1,"status_text":"dnld_start"})"},
        {DownloadFinishedNotice(),
         R"({"msg_type":"dnld","status":2,"status_text":"dnld_finished"})"},
        {DownloadFailedNotice(DownloadFailure::Network),
         R"({"msg_type":"dnld","reason":"network","status":0,"status_text":"dnld_failed"})"},
        {DownloadFailedNotice(DownloadFailure::Http),
         R"({"msg_type":"dnld","reason":"http","status":0,"status_text":"dnld_failed"})"},
        {DownloadFailedNotice(DownloadFailure::File),
         R"({"msg_type":"dnld","reason":"file","status":0,"status_text":"dnld_failed"})"},
        {DownloadFailedNotice(DownloadFailure::Cancelled),
         R"({"msg_type":"dnld","reason":"cancelled","status":0,"status_text":"dnld_failed"})"},
        {DownloadFailedNotice(DownloadFailure::Verify),
         R"({"msg_type":"dnld","reason":"verify","status":0,"status_text":"dnld_failed"})"},
        {CloseWhileDownloadingNotice(),
         R"({"msg_type":"close","status":1,"status_text":"dnld_running"})"},
        {WindowStateNotice(WindowState::Minimized), R"({"msg_type":"window","state":"minimized"})"},
        {WindowStateNotice(WindowState::Maximized), R"({"msg_type":"window","state":"maximized"})"},
        {WindowStateNotice(WindowState::Normal), R"({"msg_type":"window","state":"normal"})"},
    };
    for (const auto& [notice, expected] : cases)
        EXPECT_EQ(notice, expected);
}

} // namespace
} // namespace tarvik::bridge
