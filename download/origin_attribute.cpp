#include "download/origin_attribute.h"

#include "common/curl_handle.h"

namespace tarvik::download {
namespace {

// The URL without credentials; empty when the library cannot parse it.
std::string WithoutCredentials(const std::string& url) {
    CurlUrl parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return {};
    curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0);
    char* text = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_URL, &text, 0) != CURLUE_OK)
        return {};
    const CurlText owned(text);
    return owned.get();
}

} // namespace

void RecordOrigin(platform::DownloadFile& file, const std::string& url) {
    const std::string stored = WithoutCredentials(url);
    if (stored.empty())
        return;
    file.RecordOriginUrl(stored);
}

} // namespace tarvik::download
