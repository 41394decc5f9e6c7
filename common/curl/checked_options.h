#pragma once

#include <curl/curl.h>

#include <type_traits>

namespace tarvik {

// Sets a handle's options one after another and keeps the first refusal, so that a list of
// options reads as a list and no refused option goes unnoticed. Options set through it carry a
// rule the request relies on (which schemes, how many redirects, which time limits, where the
// body goes); once one is refused the rest are skipped and the request must not be made.
class CheckedOptions {
public:
    explicit CheckedOptions(CURL* handle) : handle_(handle) {}

    template <typename Value> CheckedOptions& Set(CURLoption option, Value value) {
        // The library reads integer options as long through its variadic call; an int would be
        // read wrongly wherever the two differ in size.
        static_assert(!std::is_same_v<Value, int>, "pass integer options as long");
        if (result_ == CURLE_OK)
            result_ = curl_easy_setopt(handle_, option, value);
        return *this;
    }

    bool ok() const { return result_ == CURLE_OK; }
    // The first refusal, or CURLE_OK.
    CURLcode result() const { return result_; }

private:
    CURL* handle_;
    CURLcode result_ = CURLE_OK;
};

} // namespace tarvik
