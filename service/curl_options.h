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

// The options every request to the service shares: http and https only (redirects too), the
// time limits, no signals (the requests may
// run on any thread) and the URL. False when the library refused one of them.
bool ApplyCommonOptions(CURL* handle, const std::string& url, const ServiceLimits& limits);

// Performs the request: with curl_easy_perform when there is neither an abort switch nor a
// deadline, otherwise so that either ends it at once.
CURLcode
PerformRequest(CURL* handle, AbortSwitch* abort,
               std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// The reason for a request the library ended with `code`; None for CURLE_OK.
ServiceFailure ServiceFailureFromCurl(CURLcode code);

} // namespace tarvik::service
