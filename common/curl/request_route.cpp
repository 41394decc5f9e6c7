#include "common/curl/request_route.h"

#include "common/curl/checked_options.h"

#include <mutex>

namespace tarvik {

namespace {

std::mutex agentMutex;
// Until the program names its system, requests still name the program.
std::string agentSystem = "unknown; unknown";

} // namespace

void SetUserAgentSystem(const std::string& os, const std::string& machine) {
    const std::lock_guard lock(agentMutex);
    agentSystem = os + "; " + machine;
}

std::string UserAgent() {
    const std::lock_guard lock(agentMutex);
    return std::string("Tarvik/") + TARVIK_VERSION + " (" + agentSystem + ")";
}

bool ApplyProxyAndUserAgent(CURL* handle, const std::optional<std::string>& proxy) {
    CheckedOptions options(handle);
    // The library keeps its own copy of the text.
    options.Set(CURLOPT_USERAGENT, UserAgent().c_str());
    if (proxy) {
        // An empty proxy is the library's way to say "no proxy", environment or not.
        options.Set(CURLOPT_PROXY, proxy->c_str());
        if (!proxy->empty())
            options.Set(CURLOPT_NOPROXY, "");
    }
    return options.ok();
}

} // namespace tarvik
