#pragma once

#include "platform/system.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace tarvik::download {

// Where the transfer jobs' workers run, and what lends them the System. A job that is cancelled
// or destroyed never waits for its worker: waiting would hold the user-interface thread in the
// worker's network wait, a proxy lookup or a commit's sync to disk. The worker stops in the
// background instead, removes its own temporary file and ends here.
//
// Lifetime: the System must outlive this object, and this object every job made with it. Its
// owner waits for the workers before the System goes: WaitUntil with the deadline the program's
// end allows, then the destructor, which waits for any worker still inside a call that cannot be
// interrupted (a commit's sync to disk, a proxy lookup), so that no worker ever runs on a System
// that is gone.
//
// Threads: WaitUntil, Running and the destructor belong to the thread that made the object (the
// user-interface thread), as do the jobs, which start their workers here. A worker only tells,
// under the mutex, that it has ended; `system()` may be used from any thread, as every System.
class TransferWorkers {
public:
    explicit TransferWorkers(platform::System& system);
    ~TransferWorkers();
    TransferWorkers(const TransferWorkers&) = delete;
    TransferWorkers& operator=(const TransferWorkers&) = delete;

    platform::System& system() const { return system_; }

    // Waits until every worker has ended or `deadline` has passed; true when none is left.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    // Workers that have not ended yet.
    size_t Running() const;

private:
    friend class TransferJob;
    // Runs `work` on a new worker; false when no thread could be started.
    bool Launch(std::function<void()> work);
    // Joins the workers that have ended; the mutex is held.
    void JoinEnded();

    struct Worker {
        std::thread thread;
        bool ended = false;
    };

    platform::System& system_;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    // A list, so that a worker's entry stays where it is while others come and go.
    std::list<Worker> workers_;
};

} // namespace tarvik::download
