#pragma once

#include <functional>
#include <thread>

namespace tarvik::demo {

// Turns SIGINT and SIGTERM into a call of `onStop` on an ordinary thread, where it may stop the
// server (nothing of that is safe inside a signal handler). Construct it before any other thread
// so every thread inherits the blocked signals.
class StopSignals {
public:
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::thread waiter_;
};

} // namespace tarvik::demo
