#include "platform/win32/proxy_settings.h"

#include "common/curl/web_url.h"
#include "platform/proxy_url.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

namespace tarvik::platform::win32 {
namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
    return lower;
}

// The settings dialogs write ';' between entries; people also type spaces and commas.
std::vector<std::string_view> Entries(std::string_view list) {
    std::vector<std::string_view> entries;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = list.find_first_of("; \t\r\n,", start);
        const std::string_view entry =
            list.substr(start, end == std::string_view::npos ? list.size() - start : end - start);
        if (!entry.empty())
            entries.push_back(entry);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return entries;
}

// '*' stands for any run of characters, the rest for itself, letters in either case.
bool Matches(std::string_view pattern, std::string_view text) {
    size_t p = 0;
    size_t t = 0;
    size_t star = std::string_view::npos;
    size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// One bypass entry: "[scheme://]host-pattern[:port]".
bool Bypasses(std::string_view entry, const WebUrl& url) {
    if (entry == "<local>")
        return url.host.find('.') == std::string::npos && !url.host.starts_with('[');
    if (const size_t scheme = entry.find("://"); scheme != std::string_view::npos) {
        if (Lower(entry.substr(0, scheme)) != url.scheme)
            return false;
        entry.remove_prefix(scheme + 3);
    }
    // A port after the last ':' that is not inside an IPv6 address's brackets.
    const size_t colon = entry.rfind(':');
    if (colon != std::string_view::npos && entry.find(']', colon) == std::string_view::npos) {
        const std::string_view port = entry.substr(colon + 1);
        int number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (error != std::errc() || end != port.data() + port.size() || number != url.port)
            return false;
        entry = entry.substr(0, colon);
    }
    return Matches(entry, url.host);
}

// A server as the settings write it ("host:port", or with a scheme of its own) in the transfer
// library's form, where `kind` is the scheme given to one without ("http" or "socks4").
std::optional<std::string> Server(std::string_view server, std::string_view kind) {
    if (server.empty())
        return std::nullopt;
    const size_t scheme = server.find("://");
    if (scheme == std::string_view::npos)
        return std::string(kind) + "://" + std::string(server);
    std::string proxy = Lower(server.substr(0, scheme)) + std::string(server.substr(scheme));
    if (!TransferLibraryTakesProxy(proxy))
        return std::nullopt;
    return proxy;
}

} // namespace

std::string ManualProxyFor(const ManualProxySettings& settings, std::string_view url) {
    const std::optional<WebUrl> parsed = ParseWebUrl(url);
    if (!parsed)
        return {};
    for (const std::string_view entry : Entries(settings.bypass)) {
        if (Bypasses(entry, *parsed))
            return {};
    }
    // The server for this scheme, else the one for every scheme, else a SOCKS server, which the
    // settings dialog means as SOCKS 4 (it has no other field for it).
    std::optional<std::string> forScheme;
    std::optional<std::string> forAll;
    std::optional<std::string> socks;
    for (const std::string_view entry : Entries(settings.proxy)) {
        const size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (!forAll)
                forAll = Server(entry, "http");
            continue;
        }
        const std::string key = Lower(entry.substr(0, equals));
        const std::string_view server = entry.substr(equals + 1);
        if (key == parsed->scheme && !forScheme)
            forScheme = Server(server, "http");
        else if (key == "socks" && !socks)
            socks = Server(server, "socks4");
    }
    return forScheme.value_or(forAll.value_or(socks.value_or(std::string())));
}

std::string FirstListedProxy(std::string_view list) {
    for (const std::string_view entry : Entries(list)) {
        if (std::optional<std::string> server = Server(entry, "http"))
            return *server;
    }
    return {};
}

} // namespace tarvik::platform::win32
