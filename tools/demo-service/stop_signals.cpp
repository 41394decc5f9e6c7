#include "tools/demo-service/stop_signals.h"

#include <csignal>
#include <pthread.h>

namespace tarvik::demo {
namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1); // only used to wake the waiter when the program ends by itself
    return set;
}

} // namespace

StopSignals::StopSignals(std::function<void()> onStop) {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    waiter_ = std::thread([set, onStop = std::move(onStop)] {
        int signal = 0;
        sigwait(&set, &signal);
        if (signal != SIGUSR1)
            onStop();
    });
}

StopSignals::~StopSignals() {
    pthread_kill(waiter_.native_handle(), SIGUSR1);
    waiter_.join();
}

} // namespace tarvik::demo
