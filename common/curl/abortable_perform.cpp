#include "common/curl/abortable_perform.h"

#include "common/curl/curl_handle.h"

#include <algorithm>

namespace tarvik {
namespace {

// The longest single wait: the switch wakes the wait itself, so this only bounds how late the
// deadline can be noticed if the library asked for a longer wait.
constexpr long kLongestWaitMs = 1000;

} // namespace

void AbortSwitch::Abort() {
    {
        const std::lock_guard lock(mutex_);
        aborted_ = true;
        if (running_)
            curl_multi_wakeup(running_);
    }
    // Outside the lock: a lookup's stop runs its callback here, on this thread.
    stop_.request_stop();
}

CURLcode PerformAbortable(CURL* easy, AbortSwitch& abort,
                          std::optional<std::chrono::steady_clock::time_point> deadline) {
    const CurlMulti multi(curl_multi_init());
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi.get(), easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    {
        const std::lock_guard lock(abort.mutex_);
        abort.running_ = multi.get();
    }
    CURLcode result = CURLE_OK;
    for (;;) {
        if (abort.aborted()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            result = CURLE_GOT_NOTHING;
            while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                    result = message->data.result;
            }
            break;
        }
        long waitMs = kLongestWaitMs;
        if (deadline) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= *deadline) {
                result = CURLE_OPERATION_TIMEDOUT;
                break;
            }
            // Rounded up: truncated, the last wait was 0 ms with up to a millisecond still to go,
            // and the request ended before its deadline. The event sender, which then finds the
            // deadline not yet passed, took such a report as done rather than unsent (seen in CI).
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
            waitMs = std::min<long>(waitMs, static_cast<long>(left.count()));
        }
        if (curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(waitMs), nullptr) !=
            CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    {
        const std::lock_guard lock(abort.mutex_);
        abort.running_ = nullptr;
    }
    curl_multi_remove_handle(multi.get(), easy);
    return result;
}

} // namespace tarvik
