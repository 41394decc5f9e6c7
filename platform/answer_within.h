#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace tarvik::platform {

// What `lookup` answers, when it answers within `limit` and before `stop` is requested; nothing
// otherwise, and nothing at once when `stop` is already requested (`lookup` is then not asked).
//
// For the desktop's proxy lookups, which neither GIO's synchronous call nor WinHTTP's can be
// given a time limit, and which may wait seconds on a configuration script or on automatic
// detection: `lookup` runs on a thread of its own, and the caller waits for it only as long as
// it may. When the answer is no longer awaited, `lookup`'s own stop token is requested, so that
// it can cancel what it waits on; the thread is then left to finish by itself (it is detached:
// joining it would make the caller wait after all), so `lookup` must hold everything it uses.
//
// Threads: any; `stop` may be requested from any thread.
inline std::optional<std::string>
AnswerWithin(std::function<std::optional<std::string>(std::stop_token abandoned)> lookup,
             std::chrono::milliseconds limit, const std::stop_token& stop) {
    if (stop.stop_requested())
        return std::nullopt;
    // Shared with the lookup's thread, which may outlive this call.
    struct Pending {
        std::mutex mutex;
        std::condition_variable_any answered;
        bool done = false;
        std::optional<std::string> answer;
        std::stop_source abandoned;
    };
    const auto pending = std::make_shared<Pending>();
    try {
        std::thread([pending, lookup = std::move(lookup)] {
            std::optional<std::string> answer;
            try {
                answer = lookup(pending->abandoned.get_token());
            } catch (const std::exception&) {
                // No memory left for the answer: the request goes by the environment.
            }
            const std::lock_guard lock(pending->mutex);
            pending->answer = std::move(answer);
            pending->done = true;
            pending->answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt; // no thread to ask on
    }
    std::optional<std::string> answer;
    bool answered = false;
    {
        std::unique_lock lock(pending->mutex);
        answered = pending->answered.wait_for(lock, stop, limit, [&] { return pending->done; });
        if (answered)
            answer = std::move(pending->answer);
    }
    // Outside the lock: the lookup's stop callbacks run here, on this thread.
    if (!answered)
        pending->abandoned.request_stop();
    return answer;
}

} // namespace tarvik::platform
