#pragma once

#include <curl/curl.h>

#include <memory>

namespace tarvik::download {

// Owning wrappers for the library handles the transfer needs beyond common/curl_handle.h.
struct CurlMultiCleanup {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiCleanup>;

struct CurlUrlCleanup {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlCleanup>;

struct CurlFree {
    void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

} // namespace tarvik::download
