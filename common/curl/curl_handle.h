#pragma once

#include <curl/curl.h>

#include <memory>

namespace tarvik {

// Owning wrappers for the transfer library's handles, so that no early return leaks one.
struct CurlEasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;

struct CurlMimeFree {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
using CurlMime = std::unique_ptr<curl_mime, CurlMimeFree>;

struct CurlSlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistFree>;

struct CurlMultiCleanup {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiCleanup>;

struct CurlUrlCleanup {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlCleanup>;

// Text the library allocated for the caller.
struct CurlFree {
    void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

// Holds the library's global state for the process: curl_global_init and curl_global_cleanup.
//
// Rule: exactly one CurlGlobal exists per process, made where the process starts (the program's
// main, a test program's global test environment, a bench's main) before any thread that could
// use the library, and destroyed after every such thread has ended. The global calls are not
// thread-safe: called from a worker while another thread makes requests, they can tear down state
// that thread is using. So no library, class or request function makes its own; they rely on
// the one that main holds.
class CurlGlobal {
public:
    CurlGlobal();
    ~CurlGlobal();
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;

    // False when the library could not initialise; every request will then fail on its own.
    bool ok() const { return ok_; }

private:
    bool ok_;
};

} // namespace tarvik
