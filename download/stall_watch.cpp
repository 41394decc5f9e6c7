#include "download/stall_watch.h"

namespace tarvik::download {

bool StallWatch::Stalled(uint64_t received, Clock::time_point now) {
    if (!windowStart_ || received < receivedAtStart_) {
        Restart(received, now);
        return false;
    }
    if (now - *windowStart_ < time_)
        return false;
    const double needed = static_cast<double>(bytesPerSecond_) *
                          std::chrono::duration<double>(now - *windowStart_).count();
    if (static_cast<double>(received - receivedAtStart_) < needed)
        return true;
    Restart(received, now);
    return false;
}

} // namespace tarvik::download
