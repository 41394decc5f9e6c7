#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace tarvik::download {

// Tells when a transfer has been slower than `bytesPerSecond` for `time`. The library's own
// low-speed check averages over several seconds, so after a burst it notices a stall only
// seconds later, and it counts in whole seconds; this one measures consecutive windows of
// exactly `time`, so a stall is noticed between one and two windows after the last good one.
class StallWatch {
public:
    using Clock = std::chrono::steady_clock;

    StallWatch(uint32_t bytesPerSecond, std::chrono::milliseconds time)
        : bytesPerSecond_(bytesPerSecond), time_(time) {}

    // `received` counts the bytes of the current answer; a smaller count starts a new answer.
    bool Stalled(uint64_t received, Clock::time_point now);

private:
    void Restart(uint64_t received, Clock::time_point now) {
        windowStart_ = now;
        receivedAtStart_ = received;
    }

    const uint32_t bytesPerSecond_;
    const std::chrono::milliseconds time_;
    std::optional<Clock::time_point> windowStart_;
    uint64_t receivedAtStart_ = 0;
};

} // namespace tarvik::download
