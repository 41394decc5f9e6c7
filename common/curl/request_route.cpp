#include "common/curl/request_route.h"

#include "common/curl/checked_options.h"

#include <sys/utsname.h>

namespace tarvik {

const std::string& UserAgent() {
    static const std::string agent = [] {
        utsname system{};
        const bool known = uname(&system) == 0;
        return std::string("Tarvik/") + TARVIK_VERSION + " (" + (known ? system.sysname : "Linux") +
               "; " + (known ? system.machine : "unknown") + ")";
    }();
    return agent;
}

bool ApplyProxyAndUserAgent(CURL* handle, const std::optional<std::string>& proxy) {
    CheckedOptions options(handle);
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
