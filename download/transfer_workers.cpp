#include "download/transfer_workers.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace tarvik::download {

TransferWorkers::TransferWorkers(platform::System& system) : system_(system) {}

TransferWorkers::~TransferWorkers() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] {
        return std::all_of(workers_.begin(), workers_.end(),
                           [](const Worker& worker) { return worker.ended; });
    });
    JoinEnded();
}

bool TransferWorkers::Launch(std::function<void()> work) {
    const std::lock_guard lock(mutex_);
    JoinEnded();
    Worker& worker = workers_.emplace_back();
    try {
        // The entry is filled in under the mutex, which the worker takes before it says it has
        // ended, so no worker can be joined before its thread is stored.
        worker.thread = std::thread([this, &worker, work = std::move(work)] {
            work();
            // Told under the mutex, so the owner cannot join this thread and go away between
            // the two steps.
            const std::lock_guard ending(mutex_);
            worker.ended = true;
            ended_.notify_all();
        });
    } catch (const std::system_error&) {
        workers_.pop_back();
        return false;
    }
    return true;
}

bool TransferWorkers::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    ended_.wait_until(lock, deadline, [this] {
        return std::all_of(workers_.begin(), workers_.end(),
                           [](const Worker& worker) { return worker.ended; });
    });
    JoinEnded();
    return workers_.empty();
}

size_t TransferWorkers::Running() const {
    const std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(workers_.begin(), workers_.end(),
                                             [](const Worker& worker) { return !worker.ended; }));
}

void TransferWorkers::JoinEnded() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (!it->ended) {
            ++it;
            continue;
        }
        // The worker has nothing left to do but return: this join is immediate.
        it->thread.join();
        it = workers_.erase(it);
    }
}

} // namespace tarvik::download
