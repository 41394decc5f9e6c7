#pragma once

#include "common/curl/abortable_perform.h"
#include "common/curl/request_route.h"
#include "service/event_report.h"
#include "service/service_limits.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace tarvik::service {

// Sends the host's event reports from one background thread, so that the user-interface thread
// never waits on the service: one report at a time, in the order they were queued, each with the
// usual limits. Nothing is retried.
//
// Threads: Enqueue, Finish and the destructor belong to the thread that made the object (the
// user-interface thread); the worker touches only the queue (under the mutex), the endpoint, the
// limits and the proxy lookup, which never change, and the abort switch (safe from any thread).
// The only callback it makes is the proxy lookup, which must be safe from any thread.
//
// Bounds: at most `capacity` reports wait; a report queued beyond that is dropped (the newest
// one, so that what the page reported first still goes out), and the drops are counted in one
// line on stderr when the sender finishes. When the host ends, Finish gives what is still queued
// one overall deadline and then drops the rest, so a close is never held up by a slow service
// for longer than that.
class EventSender {
public:
    // `proxyFor` is asked on the worker, before each report; Finish's deadline stops it too.
    EventSender(std::string logEndpoint, ServiceLimits limits, size_t capacity,
                ProxyLookup proxyFor);
    // Finish with no time at all when it has not run: whatever is still under way is abandoned.
    ~EventSender();
    EventSender(const EventSender&) = delete;
    EventSender& operator=(const EventSender&) = delete;

    // Queues a report; never blocks on the network. Dropped after Finish.
    void Enqueue(EventReport report);
    // Lets the worker send what is queued until `deadline` has passed, then stops the report
    // under way, drops the rest and joins the worker. Returns how many reports were left unsent.
    size_t Finish(std::chrono::milliseconds deadline);

    // Nothing is waiting or under way.
    bool Idle() const;
    // Reports dropped because the queue was full.
    size_t dropped() const;

private:
    void Run();

    const std::string logEndpoint_;
    const ServiceLimits limits_;
    const size_t capacity_;
    const ProxyLookup proxyFor_;
    AbortSwitch abort_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<EventReport> queue_;
    // Set by Finish: the worker sends what is queued, with `deadline_`, and then ends.
    bool finishing_ = false;
    bool finished_ = false;
    std::chrono::steady_clock::time_point deadline_;
    size_t dropped_ = 0;
    std::thread worker_;
};

} // namespace tarvik::service
