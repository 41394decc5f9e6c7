#include "common/curl/request_route.h"

#include "common/curl/checked_options.h"

#ifndef _WIN32
#include <sys/utsname.h>
#endif

namespace tarvik {

const std::string& UserAgent() {
#ifdef _WIN32
    // The system and the processor the program was built for: asking the system for its version
    // needs the window system's headers, which stay in platform/, and the version it reports
    // depends on the program's manifest anyway.
#if defined(__aarch64__) || defined(_M_ARM64)
    static const std::string agent =
        std::string("Tarvik/") + TARVIK_VERSION + " (Windows; aarch64)";
#else
    static const std::string agent = std::string("Tarvik/") + TARVIK_VERSION + " (Windows; x86_64)";
#endif
#else
    static const std::string agent = [] {
        utsname system{};
        const bool known = uname(&system) == 0;
        return std::string("Tarvik/") + TARVIK_VERSION + " (" + (known ? system.sysname : "Linux") +
               "; " + (known ? system.machine : "unknown") + ")";
    }();
#endif
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
