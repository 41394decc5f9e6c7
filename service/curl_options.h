#pragma once

#include "common/curl/curl_handle.h"
#include "service/service_failure.h"
#include "service/service_limits.h"

#include <chrono>
#include <optional>
#include <string>

namespace tarvik {
class AbortSwitch;
}

namespace tarvik::service {

// How one request to the service is made, besides its URL and limits.
struct RequestContext {
    // Thrown from another thread, it ends the request at once.
    AbortSwitch* abort = nullptr;
    // The request ends there at the latest (failure Timeout).
    std::optional<std::chrono::steady_clock::time_point> deadline;
    // What System::ProxyFor answered for the URL (see ApplyProxyAndUserAgent).
    std::optional<std::string> proxy;
};

// The options every request to the service shares: http and https only (redirects too), the
// time limits, no signals (the requests may run on any thread), the URL, the proxy and the
// User-Agent. False when the library refused one of them.
bool ApplyCommonOptions(CURL* handle, const std::string& url, const ServiceLimits& limits,
                        const RequestContext& context);

// Performs the request: with curl_easy_perform when there is neither an abort switch nor a
// deadline, otherwise so that either ends it at once.
CURLcode PerformRequest(CURL* handle, const RequestContext& context);

// The reason for a request the library ended with `code`; None for CURLE_OK.
ServiceFailure ServiceFailureFromCurl(CURLcode code);

} // namespace tarvik::service
