#pragma once

#include "common/curl/curl_handle.h"
#include "service/service_failure.h"
#include "service/service_limits.h"

#include <string>

namespace tarvik::service {

// The options every request to the service shares: http and https only (redirects too), the
// time limits, no signals (the requests may
// run on any thread) and the URL. False when the library refused one of them.
bool ApplyCommonOptions(CURL* handle, const std::string& url, const ServiceLimits& limits);

// The reason for a request the library ended with `code`; None for CURLE_OK.
ServiceFailure ServiceFailureFromCurl(CURLcode code);

} // namespace tarvik::service
