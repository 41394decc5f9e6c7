#include "service/event_report.h"

#include "common/curl/checked_options.h"
#include "common/curl/curl_handle.h"
#include "service/curl_options.h"

namespace tarvik::service {
namespace {

size_t DiscardAnswer(char*, size_t size, size_t count, void*) {
    return size * count;
}

// One plain form field: a name and data, no file name or content type. The value is sent up to
// its first zero byte, as it always has been.
bool AddField(curl_mime* form, const char* name, const std::string& value) {
    curl_mimepart* part = curl_mime_addpart(form);
    return part != nullptr && curl_mime_name(part, name) == CURLE_OK &&
           curl_mime_data(part, value.c_str(), CURL_ZERO_TERMINATED) == CURLE_OK;
}

} // namespace

ServiceFailure SendEventReport(const std::string& logEndpoint, const EventReport& report,
                               const ServiceLimits& limits, const RequestContext& context) {
    if (logEndpoint.empty())
        return ServiceFailure::BadUrl;
    const CurlEasy handle(curl_easy_init());
    if (!handle)
        return ServiceFailure::Setup;
    const CurlMime form(curl_mime_init(handle.get()));
    if (!form || !AddField(form.get(), "downloader_id", std::to_string(report.downloaderId)) ||
        !AddField(form.get(), "event", report.event) || !AddField(form.get(), "uuid", report.uuid))
        return ServiceFailure::Setup;

    if (!ApplyCommonOptions(handle.get(), logEndpoint, limits, context) ||
        !CheckedOptions(handle.get())
             .Set(CURLOPT_MIMEPOST, form.get())
             .Set(CURLOPT_FOLLOWLOCATION, 1L)
             // A redirected report is still a POST with its form, whatever the redirect's status.
             .Set(CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL))
             .Set(CURLOPT_DEFAULT_PROTOCOL, "https")
             .Set(CURLOPT_WRITEFUNCTION, &DiscardAnswer)
             .ok())
        return ServiceFailure::Setup;
    const CURLcode result = PerformRequest(handle.get(), context);
    if (result != CURLE_OK)
        return ServiceFailureFromCurl(result);
    // A report counts as delivered only when the service accepted it.
    long status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status < 300 ? ServiceFailure::None : ServiceFailure::HttpStatus;
}

} // namespace tarvik::service
