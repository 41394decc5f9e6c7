#include "bridge/link_policy.h"

#include "common/curl/web_url.h"

#include <algorithm>

namespace tarvik::bridge {

bool IsOpenableWebLink(std::string_view url) {
    // The whole URL must be free of white space and control characters, which a desktop handler
    // could split into further arguments; the URL reader takes spaces as a browser does.
    const bool plain = std::none_of(url.begin(), url.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
    return plain && ParseWebUrl(url).has_value();
}

} // namespace tarvik::bridge
