// The bounded wait for the desktop's proxy lookup: an answer in time is taken, a slow lookup is
// given up at the limit or when the caller stops, and the lookup is then told so and left to
// finish by itself.
#include "platform/answer_within.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace tarvik::platform {
namespace {

using namespace std::chrono_literals;

// A lookup that waits until the test releases it or its caller abandons it, and records which.
struct Lookup {
    std::mutex mutex;
    std::condition_variable_any changed;
    int asked = 0;
    int running = 0;
    bool released = false;
    bool abandoned = false;

    std::optional<std::string> Run(const std::stop_token& token,
                                   std::optional<std::string> answer) {
        std::unique_lock lock(mutex);
        ++asked;
        ++running;
        changed.notify_all();
        changed.wait(lock, token, [&] { return released; });
        abandoned = token.stop_requested();
        // As WinHTTP's lookup, it cannot be interrupted: it answers once released.
        changed.wait(lock, [&] { return released; });
        --running;
        changed.notify_all();
        return answer;
    }
    void Release() {
        const std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    template <typename Condition> void WaitUntil(Condition condition) {
        std::unique_lock lock(mutex);
        changed.wait(lock, condition);
    }
};

TEST(AnswerWithinTest, TakesAnAnswerInTimeAndGivesUpOtherwise) {
    enum class End { Released, Limit, StopWhileWaiting, StoppedBefore };
    struct Case {
        const char* name = nullptr;
        End end = End::Released;
        std::optional<std::string> lookupAnswers;
        std::optional<std::string> expected;
        int asked = 0;
        bool abandoned = false; // the lookup was told its answer is no longer awaited
    };
    const Case cases[] = {
        {"an answer in time", End::Released, "http://proxy.test:3128", "http://proxy.test:3128", 1,
         false},
        {"no answer, in time", End::Released, std::nullopt, std::nullopt, 1, false},
        {"direct, in time", End::Released, "", "", 1, false},
        {"out of time", End::Limit, "http://proxy.test:3128", std::nullopt, 1, true},
        {"stopped while waiting", End::StopWhileWaiting, "http://proxy.test:3128", std::nullopt, 1,
         true},
        {"stopped before", End::StoppedBefore, "http://proxy.test:3128", std::nullopt, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Shared with the lookup's thread, which may outlive the wait.
        const auto lookup = std::make_shared<Lookup>();
        std::stop_source stop;
        if (c.end == End::StoppedBefore)
            stop.request_stop();
        // Only the answer or the stop can end the other waits: a wait that ignored them would
        // keep the test waiting.
        const auto limit =
            c.end == End::Limit ? std::chrono::milliseconds(50) : std::chrono::milliseconds(1h);
        std::optional<std::string> answer = "(not asked)";
        std::thread caller([&] {
            answer = AnswerWithin(
                [lookup, reply = c.lookupAnswers](const std::stop_token& token) {
                    return lookup->Run(token, reply);
                },
                limit, stop.get_token());
        });
        if (c.end == End::Released || c.end == End::StopWhileWaiting) {
            lookup->WaitUntil([&] { return lookup->running == 1; });
            if (c.end == End::Released)
                lookup->Release();
            else
                stop.request_stop();
        }
        caller.join();
        lookup->Release();
        lookup->WaitUntil([&] { return lookup->asked == c.asked && lookup->running == 0; });
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(lookup->abandoned, c.abandoned);
    }
}

} // namespace
} // namespace tarvik::platform
