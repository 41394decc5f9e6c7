#include "common/curl/curl_handle.h"

namespace tarvik {

CurlGlobal::CurlGlobal() : ok_(curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK) {}

CurlGlobal::~CurlGlobal() {
    if (ok_)
        curl_global_cleanup();
}

} // namespace tarvik
