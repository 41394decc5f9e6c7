#include "service/product_info.h"

#include "common/curl/curl_handle.h"
#include "service/curl_options.h"
#include "service/info_answer.h"

#include <new>

namespace tarvik::service {
namespace {

// An info answer is a few hundred bytes; anything this large is not one, and keeping it would
// only cost memory.
constexpr size_t kMaxAnswerBytes = 4 * 1024 * 1024;

size_t CollectBody(char* data, size_t size, size_t count, void* userData) {
    auto& body = *static_cast<std::string*>(userData);
    const size_t bytes = size * count;
    if (bytes > kMaxAnswerBytes - body.size())
        return 0; // ends the transfer as failed
    try {
        body.append(data, bytes);
    } catch (const std::bad_alloc&) {
        return 0; // no exception may cross the library's C frames
    }
    return bytes;
}

} // namespace

ProductInfo RequestProductInfo(const std::string& infoUrl, const ServiceLimits& limits) {
    if (infoUrl.empty())
        return {};
    const CurlEasy handle(curl_easy_init());
    if (!handle)
        return {};

    std::string body;
    if (!ApplyCommonOptions(handle.get(), infoUrl, limits) ||
        curl_easy_setopt(handle.get(), CURLOPT_FOLLOWLOCATION, 0L) != CURLE_OK ||
        curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &CollectBody) != CURLE_OK ||
        curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &body) != CURLE_OK)
        return {};
    // Only the body counts: an error page from the server is read like any other answer.
    if (curl_easy_perform(handle.get()) != CURLE_OK)
        return {};
    try {
        return ParseInfoAnswer(body);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

} // namespace tarvik::service
