#include "bridge/link_policy.h"

#include <cctype>
#include <string>

namespace tarvik::bridge {

bool IsOpenableWebLink(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos)
        return false;
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https")
        return false;
    const std::string_view rest = url.substr(colon + 1);
    if (rest.substr(0, 2) != "//")
        return false;
    // The authority must name a host, and the whole URL must be free of white space and control
    // characters, which a desktop handler could split into further arguments.
    const std::string_view authority = rest.substr(2, rest.find_first_of("/?#", 2) - 2);
    const auto at = authority.rfind('@');
    const std::string_view host =
        at == std::string_view::npos ? authority : authority.substr(at + 1);
    if (host.empty() || host[0] == ':')
        return false;
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

} // namespace tarvik::bridge
