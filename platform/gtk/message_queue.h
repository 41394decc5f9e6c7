#pragma once

#include "common/host_message.h"

#include <functional>
#include <memory>

namespace tarvik::platform::gtk {

// The host window's message queue on the GLib main context of the user-interface thread.
//
// Threads: Post may be called from any thread; Open, Close and the destructor belong to the
// user-interface thread, where every message is handed to the sink, one per main-loop iteration,
// in the order posted. Each message is dispatched from a fresh idle source, so a handler that runs
// a nested loop (a modal dialog) keeps receiving the messages posted after its own.
class MessageQueue {
public:
    using Sink = std::function<void(const HostMessage&)>;

    MessageQueue();
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    void Post(const HostMessage& message);
    // Starts delivering to `sink`, including what was posted before.
    void Open(Sink sink);
    // Drops what is pending; nothing is delivered afterwards and later posts are ignored.
    void Close();

    // What the queue and its pending idle sources share; defined in the source file.
    struct State;

private:
    // Shared with the idle sources still pending, which may run after this object is gone.
    std::shared_ptr<State> state_;
};

} // namespace tarvik::platform::gtk
