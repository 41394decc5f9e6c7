#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// The one place where the program reads URLs, over the transfer library's URL parser, so that a
// link, a page's origin and a download's address are all read alike.

// An absolute http or https URL as the library reads it.
struct WebUrl {
    std::string scheme; // "http" or "https"
    std::string host;   // ASCII letters in lower case; an IPv6 address in brackets
    int port = 0;       // as written, or the scheme's default

    bool operator==(const WebUrl&) const = default;
};

// The scheme of an absolute URL of any kind, in lower case: the text before the first ':' when
// it is a scheme name (a letter, then letters, digits, '+', '-' or '.'). Nothing otherwise. It
// reads no further, so it also serves addresses without an authority such as "about:blank".
std::optional<std::string> UrlScheme(std::string_view url);

// `url` as a web address: http or https, written "scheme://" and naming a host. Spaces in the
// path, query or fragment are taken, as a browser takes them; control characters and zero bytes
// are not. Forms the library would repair rather than refuse are refused: one slash or three
// after the scheme ("http:/x", "http:///x") and a backslash in their place.
std::optional<WebUrl> ParseWebUrl(std::string_view url);

// The origin of a page address, in a form that compares equal exactly when two pages share it:
// "scheme://host:port" for http and https, with the scheme and host in lower case and the default
// port written out. For any other scheme (a file, data or about page) there is no shared origin,
// so the address itself without its fragment stands for it. Nothing for an address that does not
// parse or is empty.
std::optional<std::string> OriginOf(const std::string& url);

// `url` without user name and password, as the library writes it (any scheme it supports);
// empty when it does not parse.
std::string UrlWithoutCredentials(const std::string& url);

// `url` fit for the step log: without user name and password, or a placeholder when it does
// not parse (its text could then hold anything).
std::string LoggedUrl(const std::string& url);

} // namespace tarvik
