#include "bridge/link_policy.h"

#include "common/curl/web_url.h"

#include <algorithm>

namespace tarvik::bridge {
namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The characters a URL may hold as they are (letters, digits and "-._~!$&'()*+,;=:@/?"); every
// other one must come percent-encoded. A mail program is started with the link on its command
// line, so nothing in it may be read there as a quote, a redirection or a second argument.
bool IsUrlCharacter(char c) {
    constexpr std::string_view kMarks = "-._~!$&'()*+,;=:@/?";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           kMarks.find(c) != std::string_view::npos;
}

// "mailto:" followed by one or more addresses separated by commas, each with something on both
// sides of an '@', and then, after a '?', the fields a page may fill in (subject, body, cc).
bool IsMailLink(std::string_view url) {
    if (UrlScheme(url) != "mailto")
        return false;
    const std::string_view rest = url.substr(url.find(':') + 1);
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%') {
            if (i + 2 >= rest.size() || !IsHexDigit(rest[i + 1]) || !IsHexDigit(rest[i + 2]))
                return false;
            i += 2;
        } else if (!IsUrlCharacter(rest[i])) {
            return false;
        }
    }
    // A link with no address ("mailto:", "mailto:?subject=...") leaves the mail program to ask
    // whom to write to; the page meant someone.
    std::string_view addresses = rest.substr(0, rest.find('?'));
    for (;;) {
        const size_t comma = addresses.find(',');
        const std::string_view address = addresses.substr(0, comma);
        const size_t at = address.find('@');
        if (at == std::string_view::npos || at == 0 || at + 1 == address.size())
            return false;
        if (comma == std::string_view::npos)
            return true;
        addresses.remove_prefix(comma + 1);
    }
}

} // namespace

bool IsOpenableLink(std::string_view url) {
    // The whole URL must be free of white space and control characters; the URL reader takes
    // spaces as a browser does.
    const bool plain = std::none_of(url.begin(), url.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
    return plain && (ParseWebUrl(url).has_value() || IsMailLink(url));
}

} // namespace tarvik::bridge
