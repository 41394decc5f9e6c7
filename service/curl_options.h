#pragma once

#include "common/curl/curl_handle.h"
#include "service/service_limits.h"

#include <string>

namespace tarvik::service {

// The options every request to the service shares: the time limits, no signals (the requests may
// run on any thread) and the URL. False when the library refused one of them.
bool ApplyCommonOptions(CURL* handle, const std::string& url, const ServiceLimits& limits);

} // namespace tarvik::service
