#include "download/stall_watch.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace tarvik::download {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

struct StallCase {
    const char* name;
    uint32_t bytesPerSecond;
    milliseconds time;
    // The received count of the current answer at each moment.
    std::function<uint64_t(milliseconds)> received;
    milliseconds runFor;
    // When the first stall may be reported; none: never.
    std::optional<std::pair<milliseconds, milliseconds>> stallsBetween;
};

// Asks the watch every 100 ms, as the worker's wait does at the latest, on a made-up clock.
std::optional<milliseconds> FirstStall(const StallCase& c) {
    StallWatch watch(c.bytesPerSecond, c.time);
    const StallWatch::Clock::time_point start;
    for (milliseconds t{0}; t <= c.runFor; t += 100ms) {
        if (watch.Stalled(c.received(t), start + t))
            return t;
    }
    return std::nullopt;
}

TEST(StallWatch, FailsAboutTheLimitAfterTheLastByteWhateverCameBefore) {
    const auto seconds = [](milliseconds t) { return static_cast<uint64_t>(t.count() / 1000); };
    const StallCase cases[] = {
        // The burst lies in the first minute; only a window that slides notices the silent
        // minute after it before two minutes have passed.
        {"headers and 4 KiB, then silence", 1, 60s,
         [](milliseconds t) -> uint64_t { return t < 50ms ? 0 : 4096; }, 200s, std::pair(60s, 62s)},
        {"nothing at all", 1, 60s, [](milliseconds) -> uint64_t { return 0; }, 200s,
         std::pair(60s, 62s)},
        {"a trickle above the rate", 100, 10s, [&](milliseconds t) { return 150 * seconds(t); },
         300s, std::nullopt},
        {"a trickle below the rate", 100, 10s, [&](milliseconds t) { return 50 * seconds(t); },
         300s, std::pair(10s, 12s)},
        // Twice the rate until 30 s: the last 10 s hold too little once more than half of them
        // are silent.
        {"twice the rate, then silence", 1000, 10s,
         [](milliseconds t) -> uint64_t {
             return 2 * static_cast<uint64_t>(std::min<milliseconds>(t, 30s).count());
         },
         300s, std::pair(35s, 37s)},
        // A redirect's body, then the installer's answer that never sends a byte: the new answer
        // gets a whole window of its own.
        {"a new answer starts its own window", 1, 10s,
         [](milliseconds t) -> uint64_t { return t < 5s ? 100'000 : 0; }, 100s,
         std::pair(15s, 17s)},
        {"a limit under a second, as in tests", 1, 1s,
         [](milliseconds t) -> uint64_t { return t < 100ms ? 0 : 65536; }, 10s,
         std::pair(1s, 1500ms)},
    };
    for (const StallCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<milliseconds> stall = FirstStall(c);
        if (!c.stallsBetween) {
            EXPECT_FALSE(stall) << "stalled at " << stall->count() << " ms";
            continue;
        }
        ASSERT_TRUE(stall) << "never stalled";
        EXPECT_GE(*stall, c.stallsBetween->first);
        EXPECT_LE(*stall, c.stallsBetween->second);
    }
}

} // namespace
} // namespace tarvik::download
