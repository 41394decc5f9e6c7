#pragma once

#include "common/host_message.h"
#include "download/progress_figures.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace tarvik::download {

// Decides when the worker posts WM_DL_PROGRESS so that the host's queue never floods: at most
// one progress message waits at any time (taking the figures lets the next one through), at most
// one per interval, and the figures taken last before the finished message are the final ones.
//
// Threads: Offer and Final run on the worker, Take on the thread that handles the messages.
class ProgressGate {
public:
    using Clock = std::chrono::steady_clock;

    explicit ProgressGate(std::chrono::milliseconds interval) : interval_(interval) {}

    // Records the latest figures; returns the message to post, if one is due.
    std::optional<HostMessage> Offer(uint64_t received, int64_t total, Clock::time_point now);

    // Records the final figures; returns a message to post before the finished message unless a
    // message already waiting (or one already taken) delivers them.
    std::optional<HostMessage> Final(uint64_t received, int64_t total);

    // The latest figures, never lower than those returned before.
    ProgressFigures Take();

private:
    void Store(uint64_t received, int64_t total);

    const std::chrono::milliseconds interval_;
    std::atomic<uint64_t> received_{0};
    std::atomic<int64_t> total_{0};
    std::atomic<bool> waiting_{false};
    // The received count Take returned last; lets Final skip a message that adds nothing.
    std::atomic<uint64_t> delivered_{0};
    // Worker only.
    std::optional<Clock::time_point> lastPost_;
    // Taking thread only.
    ProgressFigures taken_;
};

} // namespace tarvik::download
