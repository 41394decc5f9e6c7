#include "service/curl_options.h"

#include "common/curl/abortable_perform.h"
#include "common/curl/checked_options.h"
#include "common/curl/request_route.h"

#include <algorithm>

namespace tarvik::service {
namespace {

// The library reads a zero limit as "no limit", so the shortest limit it is given is 1 ms.
long LimitMilliseconds(std::chrono::milliseconds limit) {
    return static_cast<long>(
        std::clamp<std::chrono::milliseconds::rep>(limit.count(), 1, 24L * 60 * 60 * 1000));
}

} // namespace

bool ApplyCommonOptions(CURL* handle, const std::string& url, const ServiceLimits& limits,
                        const RequestContext& context) {
    return ApplyProxyAndUserAgent(handle, context.proxy) &&
           CheckedOptions(handle)
               .Set(CURLOPT_URL, url.c_str())
               // The service is a web service: an api_url naming a local file, or a redirect to
               // another protocol, must not make the program read files or talk ftp on the
               // service's behalf.
               .Set(CURLOPT_PROTOCOLS_STR, "http,https")
               .Set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https")
               .Set(CURLOPT_NOSIGNAL, 1L)
               .Set(CURLOPT_CONNECTTIMEOUT_MS, LimitMilliseconds(limits.connect))
               .Set(CURLOPT_TIMEOUT_MS, LimitMilliseconds(limits.total))
               .ok() &&
           (limits.trustedAuthorities.empty() ||
            CheckedOptions(handle).Set(CURLOPT_CAINFO, limits.trustedAuthorities.c_str()).ok());
}

CURLcode PerformRequest(CURL* handle, const RequestContext& context) {
    if (!context.abort && !context.deadline)
        return curl_easy_perform(handle);
    AbortSwitch unused;
    return PerformAbortable(handle, context.abort ? *context.abort : unused, context.deadline);
}

ServiceFailure ServiceFailureFromCurl(CURLcode code) {
    switch (code) {
    case CURLE_OK:
        return ServiceFailure::None;
    case CURLE_OPERATION_TIMEDOUT:
        return ServiceFailure::Timeout;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ServiceFailure::BadUrl;
    // A redirect chain that never ends in an answer.
    case CURLE_TOO_MANY_REDIRECTS:
        return ServiceFailure::HttpStatus;
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_BAD_FUNCTION_ARGUMENT:
        return ServiceFailure::Setup;
    default:
        return ServiceFailure::Network;
    }
}

} // namespace tarvik::service
