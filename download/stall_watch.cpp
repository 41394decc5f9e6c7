#include "download/stall_watch.h"

#include <algorithm>

namespace tarvik::download {
namespace {

using std::chrono::milliseconds;

// Bounds the ring for very long limits; the step grows instead.
constexpr int64_t kMostSteps = 120;

milliseconds StepFor(milliseconds time) {
    const milliseconds usual = std::min<milliseconds>(time / 4, std::chrono::seconds(1));
    const milliseconds bounded((time.count() + kMostSteps - 1) / kMostSteps);
    return std::max({usual, bounded, milliseconds(1)});
}

} // namespace

StallWatch::StallWatch(uint32_t bytesPerSecond, milliseconds time)
    : bytesNeeded_(static_cast<double>(bytesPerSecond) *
                   std::chrono::duration<double>(std::max(time, milliseconds(0))).count()),
      time_(std::max(time, milliseconds(0))), step_(StepFor(time)) {
    // Samples lie at least a step apart; all but the oldest are within the last `time`, and one
    // more is added before the oldest may go.
    const auto steps = static_cast<size_t>(time_ / step_);
    ring_.resize(steps + 3);
}

void StallWatch::Restart(uint64_t received, Clock::time_point now) {
    first_ = 0;
    count_ = 0;
    Push({now, received});
}

void StallWatch::Push(const Sample& sample) {
    if (count_ == ring_.size()) { // cannot happen with samples a step apart; kept safe anyway
        first_ = (first_ + 1) % ring_.size();
        --count_;
    }
    ring_[(first_ + count_) % ring_.size()] = sample;
    ++count_;
}

bool StallWatch::Stalled(uint64_t received, Clock::time_point now) {
    if (count_ == 0 || received < latest_) {
        latest_ = received;
        Restart(received, now);
        return false;
    }
    latest_ = received;
    if (now - At(count_ - 1).at < step_)
        return false;
    // Keep the newest sample at or before the start of the window, and none older.
    const Clock::time_point windowStart = now - time_;
    while (count_ >= 2 && At(1).at <= windowStart) {
        first_ = (first_ + 1) % ring_.size();
        --count_;
    }
    Push({now, received});
    const Sample& oldest = At(0);
    if (oldest.at > windowStart)
        return false; // the answer is younger than the window
    // What arrived since the oldest sample is at least what arrived within the window.
    return static_cast<double>(received - oldest.received) < bytesNeeded_;
}

} // namespace tarvik::download
