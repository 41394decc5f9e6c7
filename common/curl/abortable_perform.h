#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <stop_token>

namespace tarvik {

// Lets another thread stop a request that is waiting on the network at once, instead of when
// the library next calls back (which can take a second while nothing arrives), and the desktop's
// proxy lookup before it (see StopToken).
//
// Threads: Abort and aborted may be called from any thread, also at the same time as the
// request runs; PerformAbortable runs on the request's own thread. Once aborted, it stays
// aborted: every later request given this switch ends at once.
class AbortSwitch {
public:
    AbortSwitch() = default;
    AbortSwitch(const AbortSwitch&) = delete;
    AbortSwitch& operator=(const AbortSwitch&) = delete;

    void Abort();
    bool aborted() const { return aborted_.load(); }
    // Requested by Abort: for a proxy lookup made for the request (System::ProxyFor), so that it
    // ends with the request rather than hold its thread.
    std::stop_token StopToken() const { return stop_.get_token(); }

private:
    friend CURLcode PerformAbortable(CURL*, AbortSwitch&,
                                     std::optional<std::chrono::steady_clock::time_point>);
    // The multi handle of the request under way, so that Abort can wake its wait; guarded so
    // that it is never woken after it has been cleaned up.
    std::mutex mutex_;
    CURLM* running_ = nullptr;
    std::atomic<bool> aborted_{false};
    std::stop_source stop_;
};

// Performs `easy` like curl_easy_perform, but ends it with CURLE_ABORTED_BY_CALLBACK as soon as
// `abort` is thrown, and with CURLE_OPERATION_TIMEDOUT at `deadline` when one is given, whatever
// the handle's own time limits. The handle is left as curl_easy_perform leaves it.
CURLcode PerformAbortable(CURL* easy, AbortSwitch& abort,
                          std::optional<std::chrono::steady_clock::time_point> deadline = {});

} // namespace tarvik
