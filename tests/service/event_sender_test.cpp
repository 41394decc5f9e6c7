#include "service/event_sender.h"

#include "common/curl/abortable_perform.h"
#include "common/curl/curl_handle.h"

#include "support/loopback_server.h"
#include "support/stall_gate.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace tarvik::service {
namespace {

using namespace std::chrono_literals;

// A full queue drops the newest reports, never the oldest, and says how many on stderr when the
// sender finishes; what was queued in time still goes out in order.
TEST(EventSenderTest, AFullQueueDropsTheNewestAndCountsThem) {
    testing::StallGate firstAnswer;
    std::mutex mutex;
    std::vector<std::string> received;
    // Declared after what its handler uses, so that it stops first.
    testing::LoopbackServer service;
    service.server.Post("/log", [&](const httplib::Request& request, httplib::Response& response) {
        {
            const std::lock_guard lock(mutex);
            received.push_back(request.get_file_value("event").content);
        }
        firstAnswer.Wait();
        response.set_content(R"({"code":200})", "application/json");
    });
    service.Start();

    ::testing::internal::CaptureStderr();
    size_t unsent = 0;
    size_t dropped = 0;
    {
        EventSender sender(service.Url("/log"), {}, 3, nullptr);
        // The first is under way (and still counts as waiting until it is answered), two more
        // wait; the last two find the queue full.
        for (const char* event : {"a", "b", "c", "d", "e"})
            sender.Enqueue({1, event, "id"});
        dropped = sender.dropped();
        firstAnswer.Open();
        unsent = sender.Finish(5s);
    }
    const std::string warning = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(dropped, 2u);
    EXPECT_EQ(unsent, 0u);
    EXPECT_NE(warning.find("2 event reports were dropped"), std::string::npos) << warning;
    const std::lock_guard lock(mutex);
    EXPECT_EQ(received, (std::vector<std::string>{"a", "b", "c"}));
}

// A request given a deadline ends at it, never before: callers tell a report cut short by the
// deadline from one that failed in time by comparing the clock with it. Deadlines with a part of
// a millisecond show a wait cut to whole milliseconds.
TEST(PerformAbortableTest, EndsAtTheDeadlineAndNeverBefore) {
    testing::StallGate answer;
    testing::LoopbackServer service;
    service.server.Get("/silent", [&](const httplib::Request&, httplib::Response& response) {
        answer.Wait();
        response.set_content("late", "text/plain");
    });
    service.Start();
    const std::string url = service.Url("/silent");
    for (const auto after : {500us, 2500us, 10300us}) {
        const CurlEasy easy(curl_easy_init());
        ASSERT_TRUE(easy);
        curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
        AbortSwitch abort;
        const auto deadline = std::chrono::steady_clock::now() + after;
        EXPECT_EQ(PerformAbortable(easy.get(), abort, deadline), CURLE_OPERATION_TIMEDOUT);
        EXPECT_GE(std::chrono::steady_clock::now(), deadline) << after.count() << " us";
    }
    answer.Open();
}

} // namespace
} // namespace tarvik::service
