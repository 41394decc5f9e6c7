#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvik::download {

// Tells when a transfer has been slower than `bytesPerSecond` for `time`: fewer than
// bytesPerSecond * time bytes arrived in the last `time`, over a window that slides with the
// clock. Consecutive fixed windows would let "headers and a few KiB, then silence" run for
// almost two windows, since the first window still counts the burst; a sliding window fails it
// about `time` after the last byte. The library's own low-speed check averages over several
// seconds, so after a burst it notices a stall only seconds late, and it counts whole seconds.
//
// The window is measured from samples of the received count, taken at most once a step (a
// second, or a quarter of a shorter `time`; longer for very long times, so that at most about
// a hundred samples are kept) and held in a ring allocated up front: nothing is allocated while
// the transfer runs. The check runs when a sample is taken, so a stall is seen at most a step
// after `time`, given calls at least that often (the worker wakes at least every 100 ms).
//
// Threads: one thread only (the transfer worker).
class StallWatch {
public:
    using Clock = std::chrono::steady_clock;

    StallWatch(uint32_t bytesPerSecond, std::chrono::milliseconds time);

    // `received` counts the bytes of the current answer; a smaller count starts a new answer,
    // which gets a whole `time` before it can count as stalled.
    bool Stalled(uint64_t received, Clock::time_point now);

private:
    struct Sample {
        Clock::time_point at;
        uint64_t received = 0;
    };

    void Restart(uint64_t received, Clock::time_point now);
    const Sample& At(size_t index) const { return ring_[(first_ + index) % ring_.size()]; }
    void Push(const Sample& sample);

    const double bytesNeeded_;
    const Clock::duration time_;
    const Clock::duration step_;
    std::vector<Sample> ring_;
    size_t first_ = 0;
    size_t count_ = 0; // none until the first call
    uint64_t latest_ = 0;
};

} // namespace tarvik::download
