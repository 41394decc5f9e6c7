#include "service/event_sender.h"

#include "common/log.h"

#include <cstdio>
#include <optional>

namespace tarvik::service {

EventSender::EventSender(std::string logEndpoint, ServiceLimits limits, size_t capacity,
                         ProxyLookup proxyFor)
    : logEndpoint_(std::move(logEndpoint)), limits_(std::move(limits)), capacity_(capacity),
      proxyFor_(std::move(proxyFor)) {
    worker_ = std::thread([this] { Run(); });
}

EventSender::~EventSender() {
    Finish(std::chrono::milliseconds(0));
}

void EventSender::Enqueue(EventReport report) {
    {
        const std::lock_guard lock(mutex_);
        if (finishing_)
            return;
        if (queue_.size() >= capacity_) {
            ++dropped_;
            return;
        }
        queue_.push_back(std::move(report));
    }
    wake_.notify_one();
}

size_t EventSender::Finish(std::chrono::milliseconds deadline) {
    {
        const std::lock_guard lock(mutex_);
        if (finished_)
            return 0;
        finishing_ = true;
        deadline_ = std::chrono::steady_clock::now() + deadline;
    }
    wake_.notify_one();
    size_t unsent = 0;
    {
        // The worker ends by itself once the queue is empty; at the deadline it is stopped.
        std::unique_lock lock(mutex_);
        if (!wake_.wait_until(lock, deadline_, [this] { return finished_; })) {
            abort_.Abort();
            wake_.wait(lock, [this] { return finished_; });
        }
        unsent = queue_.size();
        queue_.clear();
        if (dropped_ > 0)
            std::fprintf(stderr, "tarvik: %zu event reports were dropped: too many were waiting\n",
                         dropped_);
    }
    if (worker_.joinable())
        worker_.join();
    return unsent;
}

bool EventSender::Idle() const {
    const std::lock_guard lock(mutex_);
    return queue_.empty();
}

size_t EventSender::dropped() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}

void EventSender::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !queue_.empty() || finishing_; });
        if (queue_.empty() || abort_.aborted())
            break;
        // The report stays queued while it is sent, so that an abort counts it as unsent.
        const EventReport report = queue_.front();
        const std::optional<std::chrono::steady_clock::time_point> deadline =
            finishing_ ? std::optional(deadline_) : std::nullopt;
        lock.unlock();
        // The abort switch is always given: a close may come while a report waits on the
        // service, and it must not wait the report's whole time limit.
        RequestContext context{&abort_, deadline, std::nullopt};
        if (proxyFor_)
            context.proxy = proxyFor_(logEndpoint_, abort_.StopToken());
        const ServiceFailure failure = SendEventReport(logEndpoint_, report, limits_, context);
        TARVIK_LOG("service: event ", log::Clipped(report.event),
                   " reported: ", FailureText(failure));
        lock.lock();
        // A report cut short by the close, by the abort or by the end of its deadline, was not
        // sent: it stays counted as unsent, as do the ones behind it.
        const bool outOfTime = finishing_ && std::chrono::steady_clock::now() >= deadline_;
        if ((abort_.aborted() || outOfTime) && failure != ServiceFailure::None)
            break;
        queue_.pop_front();
    }
    finished_ = true;
    lock.unlock();
    wake_.notify_all();
}

} // namespace tarvik::service
