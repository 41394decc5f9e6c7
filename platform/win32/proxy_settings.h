#pragma once

#include <string>
#include <string_view>

namespace tarvik::platform::win32 {

// The proxy a Windows user set by hand (Settings > Network > Proxy, or the Internet Options
// dialog), as WinHTTP hands it over: the same settings the web view follows.
struct ManualProxySettings {
    // One server for every scheme ("host:port"), or one per scheme
    // ("http=host:port;https=host:port;socks=host:port"); empty for none.
    std::string proxy;
    // Hosts reached directly, separated by ';': exact names, patterns with '*' ("*.corp.test",
    // "10.*"), either optionally with a scheme before and a port after, and "<local>" for every
    // name without a dot.
    std::string bypass;
};

// The proxy for `url` (http or https) under those settings, in the transfer library's form
// ("http://host:port", "socks4://host:port"); empty for a direct connection, and for an address
// that is not http or https.
std::string ManualProxyFor(const ManualProxySettings& settings, std::string_view url);

// The first proxy of the list an auto-configuration script gave ("host:port; host2:port"), in
// the transfer library's form; empty when the list names none.
std::string FirstListedProxy(std::string_view list);

} // namespace tarvik::platform::win32
