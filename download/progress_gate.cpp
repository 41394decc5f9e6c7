#include "download/progress_gate.h"

#include <algorithm>

namespace tarvik::download {

void ProgressGate::Store(uint64_t received, int64_t total) {
    total_.store(total);
    received_.store(received);
}

std::optional<HostMessage> ProgressGate::Offer(uint64_t received, int64_t total,
                                               Clock::time_point now) {
    Store(received, total);
    if (lastPost_ && now - *lastPost_ < interval_)
        return std::nullopt;
    if (waiting_.exchange(true))
        return std::nullopt;
    lastPost_ = now;
    return HostMessage{WM_DL_PROGRESS, received, total};
}

std::optional<HostMessage> ProgressGate::Final(uint64_t received, int64_t total) {
    Store(received, total);
    // A waiting message is taken after this point (Take clears the flag before it reads), so it
    // carries the figures just stored.
    if (waiting_.exchange(true))
        return std::nullopt;
    if (delivered_.load() == received) {
        waiting_.store(false);
        return std::nullopt;
    }
    return HostMessage{WM_DL_PROGRESS, received, total};
}

ProgressFigures ProgressGate::Take() {
    // Cleared before reading: a worker that still sees the flag set relies on this read.
    waiting_.store(false);
    const uint64_t received = received_.load();
    const int64_t total = total_.load();
    taken_.received = std::max(taken_.received, received);
    // A total of 0 stands for a length the server never gave; it stays so, or a page would
    // take the bytes so far for the whole file.
    if (total > 0 || taken_.total > 0)
        taken_.total = std::max({taken_.total, total, static_cast<int64_t>(taken_.received)});
    delivered_.store(taken_.received);
    return taken_;
}

} // namespace tarvik::download
