#include "service/product_info.h"

#include "common/curl/checked_options.h"
#include "common/curl/curl_handle.h"
#include "common/log.h"
#include "service/curl_options.h"
#include "service/info_answer.h"

#include <new>

namespace tarvik::service {
namespace {

// An info answer is a few hundred bytes; anything this large is not one, and keeping it would
// only cost memory.
constexpr size_t kMaxAnswerBytes = 4 * 1024 * 1024;

struct Body {
    std::string text;
    // Set when the answer outgrew the bound or the memory there was, which ends the transfer.
    bool tooLarge = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* userData) {
    auto& body = *static_cast<Body*>(userData);
    const size_t bytes = size * count;
    if (bytes > kMaxAnswerBytes - body.text.size()) {
        body.tooLarge = true;
        return 0; // ends the transfer as failed
    }
    try {
        body.text.append(data, bytes);
    } catch (const std::bad_alloc&) {
        body.tooLarge = true;
        return 0; // no exception may cross the library's C frames
    }
    return bytes;
}

// The final answer's HTTP status; 0 without one.
long ResponseStatus(CURL* handle) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

ProductInfo Failed(ServiceFailure failure) {
    return ProductInfo{std::nullopt, std::nullopt, failure};
}

} // namespace

ProductInfo RequestProductInfo(const std::string& infoUrl, const ServiceLimits& limits,
                               const RequestContext& context) {
    if (infoUrl.empty())
        return Failed(ServiceFailure::BadUrl);
    const CurlEasy handle(curl_easy_init());
    if (!handle)
        return Failed(ServiceFailure::Setup);

    Body body;
    // The library's own words for a failure: they tell a refused certificate's causes apart.
    char errorText[CURL_ERROR_SIZE] = {};
    if (!ApplyCommonOptions(handle.get(), infoUrl, limits, context) ||
        !CheckedOptions(handle.get())
             .Set(CURLOPT_FOLLOWLOCATION, 0L)
             .Set(CURLOPT_WRITEFUNCTION, &CollectBody)
             .Set(CURLOPT_WRITEDATA, &body)
             .Set(CURLOPT_ERRORBUFFER, errorText)
             .ok())
        return Failed(ServiceFailure::Setup);
    const CURLcode result = PerformRequest(handle.get(), context);
    const long status = ResponseStatus(handle.get());
    TARVIK_LOG("service: info answer: HTTP ", status, ", ", curl_easy_strerror(result),
               errorText[0] ? ": " : "", errorText);
    ProductInfo info = Failed(ServiceFailure::TooLarge);
    if (body.tooLarge) {
        // as set
    } else if (result != CURLE_OK) {
        // Only the body counts: an error page from the server is read like any other answer.
        info = Failed(ServiceFailureFromCurl(result));
        if (result == CURLE_PEER_FAILED_VERIFICATION)
            info.certificate = CertificateProblemFromText(errorText);
    } else {
        try {
            info = ParseInfoAnswer(body.text);
        } catch (const std::bad_alloc&) {
            info = Failed(ServiceFailure::TooLarge);
        }
    }
    info.httpStatus = status;
    return info;
}

} // namespace tarvik::service
