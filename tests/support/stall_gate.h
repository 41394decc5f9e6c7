#pragma once

#include <condition_variable>
#include <mutex>

namespace tarvik::testing {

// Holds server handlers back until the test lets them go, so a server can stay silent for as
// long as the client waits, and still end before the server is stopped.
class StallGate {
public:
    void Wait() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }
    void Open() {
        {
            const std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    // Holds the handlers that come from now on, for a test that uses the gate more than once.
    void Close() {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

} // namespace tarvik::testing
