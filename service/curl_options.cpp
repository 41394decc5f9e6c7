#include "service/curl_options.h"

#include <algorithm>

namespace tarvik::service {
namespace {

// The library reads a zero limit as "no limit", so the shortest limit it is given is 1 ms.
long LimitMilliseconds(std::chrono::milliseconds limit) {
    return static_cast<long>(
        std::clamp<std::chrono::milliseconds::rep>(limit.count(), 1, 24L * 60 * 60 * 1000));
}

} // namespace

bool ApplyCommonOptions(CURL* handle, const std::string& url, const ServiceLimits& limits) {
    return curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, LimitMilliseconds(limits.connect)) ==
               CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, LimitMilliseconds(limits.total)) ==
               CURLE_OK;
}

} // namespace tarvik::service
