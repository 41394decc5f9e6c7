#include "platform/gtk/message_queue.h"

#include "platform/gtk/gobject_ptr.h"
#include "platform/gtk/guarded_callback.h"

#include <glib.h>

#include <deque>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
#define TARVIK_TSAN_ANNOTATIONS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARVIK_TSAN_ANNOTATIONS 1
#endif
#endif
#ifdef TARVIK_TSAN_ANNOTATIONS
#include <sanitizer/tsan_interface.h>
#endif

namespace tarvik::platform::gtk {

struct MessageQueue::State {
    std::mutex mutex;
    std::deque<HostMessage> pending;
    bool dispatchScheduled = false;
    bool closed = false;
    // Set and cleared on the user-interface thread; read by posts to know whether to schedule.
    Sink sink;
};

namespace {

using StateRef = std::shared_ptr<MessageQueue::State>;

// Above redrawing and resizing, below input and the web view's own traffic, so a busy worker
// cannot starve the window while posts still overtake painting, as posted messages do on a
// desktop whose paint message is the lowest of all.
constexpr int kDispatchPriority = G_PRIORITY_HIGH_IDLE;

// A post on another thread hands the idle source's data to the main loop through GLib, which orders
// the two under its main-context lock. That lock is a futex ThreadSanitizer does not see, so in a
// ThreadSanitizer build these tell it about the hand-over; otherwise they are nothing.
void HandOver([[maybe_unused]] gpointer data) {
#ifdef TARVIK_TSAN_ANNOTATIONS
    __tsan_release(data);
#endif
}
void TakeOver([[maybe_unused]] gpointer data) {
#ifdef TARVIK_TSAN_ANNOTATIONS
    __tsan_acquire(data);
#endif
}

void DestroyStateRef(gpointer data) {
    TakeOver(data);
    DestroyFromGLib<StateRef>(data);
}

void ScheduleDispatch(const StateRef& state);

gboolean DispatchOne(gpointer data) {
    TakeOver(data);
    StateRef state = *static_cast<StateRef*>(data);
    HostMessage message;
    // A copy: the handler may close the queue, which clears the sink.
    MessageQueue::Sink sink;
    {
        std::lock_guard lock(state->mutex);
        state->dispatchScheduled = false;
        if (state->closed || !state->sink || state->pending.empty())
            return G_SOURCE_REMOVE;
        message = state->pending.front();
        state->pending.pop_front();
        if (!state->pending.empty()) {
            // Armed before the handler runs, so that a nested loop inside it sees the rest.
            state->dispatchScheduled = true;
            ScheduleDispatch(state);
        }
        sink = state->sink;
    }
    RunGuarded("host message", [&] { sink(message); });
    return G_SOURCE_REMOVE;
}

void ScheduleDispatch(const StateRef& state) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, kDispatchPriority);
    gpointer data = ReleaseToGLib(std::make_unique<StateRef>(state));
    HandOver(data);
    g_source_set_callback(source, DispatchOne, data, DestroyStateRef);
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

} // namespace

MessageQueue::MessageQueue() : state_(std::make_shared<State>()) {}

MessageQueue::~MessageQueue() {
    Close();
}

void MessageQueue::Post(const HostMessage& message) {
    std::lock_guard lock(state_->mutex);
    if (state_->closed)
        return;
    state_->pending.push_back(message);
    if (!state_->dispatchScheduled && state_->sink) {
        state_->dispatchScheduled = true;
        ScheduleDispatch(state_);
    }
}

void MessageQueue::Open(Sink sink) {
    std::lock_guard lock(state_->mutex);
    if (state_->closed)
        return;
    state_->sink = std::move(sink);
    if (!state_->dispatchScheduled && !state_->pending.empty()) {
        state_->dispatchScheduled = true;
        ScheduleDispatch(state_);
    }
}

void MessageQueue::Close() {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->pending.clear();
    state_->sink = nullptr;
}

} // namespace tarvik::platform::gtk
