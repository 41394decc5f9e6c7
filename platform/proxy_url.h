#pragma once

#include <array>
#include <string_view>

namespace tarvik::platform {

// Whether the transfer library can use a proxy named as System::ProxyFor names it: its URL
// starts with one of the proxy kinds the library speaks, scheme in lower case. A desktop may
// name others (an "ftp://" proxy), which are of no use to it.
inline bool TransferLibraryTakesProxy(std::string_view proxyUrl) {
    constexpr std::array<std::string_view, 6> kSchemes = {"http://",    "https://",  "socks4://",
                                                          "socks4a://", "socks5://", "socks5h://"};
    for (const std::string_view scheme : kSchemes) {
        if (proxyUrl.starts_with(scheme))
            return true;
    }
    return false;
}

} // namespace tarvik::platform
