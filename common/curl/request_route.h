#pragma once

#include <curl/curl.h>

#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace tarvik {

// Where a request's proxy comes from: the platform's System::ProxyFor, or a test's stand-in.
// Asked on the thread that makes the request; it answers nothing at once when `stop` is requested.
using ProxyLookup =
    std::function<std::optional<std::string>(const std::string& url, std::stop_token stop)>;

// "Tarvik/<version> (<os>; <arch>)", e.g. "Tarvik/0.1 (Linux; x86_64)". Some content networks
// and firewalls refuse requests that name no agent at all. The system's part comes from the
// platform (System::Name), which the host hands over with SetUserAgentSystem before its first
// request; any thread may ask.
std::string UserAgent();
void SetUserAgentSystem(const std::string& os, const std::string& machine);

// What every request of the program (info, event reports, the download) shares about the way
// it goes out: the desktop's proxy for it and the User-Agent. `proxy` is what System::ProxyFor
// answered: nothing leaves the library's own reading of the environment variables, an empty
// text means a direct connection (also when the environment names a proxy), anything else is
// the proxy to use, whatever the environment's no_proxy says (the desktop already decided).
// False when the library refused an option; the request must not be made then.
bool ApplyProxyAndUserAgent(CURL* handle, const std::optional<std::string>& proxy);

} // namespace tarvik
