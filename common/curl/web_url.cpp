#include "common/curl/web_url.h"

#include "common/curl/curl_handle.h"

#include <algorithm>
#include <charconv>

namespace tarvik {
namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::optional<std::string> Part(CURLU* parsed, CURLUPart part, unsigned flags) {
    char* text = nullptr;
    if (curl_url_get(parsed, part, &text, flags) != CURLUE_OK)
        return std::nullopt;
    const CurlText owned(text);
    return std::string(owned.get());
}

} // namespace

std::optional<std::string> UrlScheme(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || !IsAsciiLetter(url[0]))
        return std::nullopt;
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme) {
        const bool allowed =
            IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!allowed)
            return std::nullopt;
        c = AsciiLower(c);
    }
    return scheme;
}

std::optional<WebUrl> ParseWebUrl(std::string_view url) {
    // The library reads up to the first zero byte, so one inside would hide what follows it;
    // it refuses other control characters itself.
    if (url.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::optional<std::string> written = UrlScheme(url);
    if (!written || (*written != "http" && *written != "https"))
        return std::nullopt;
    // Exactly two slashes, then the authority: the library would read "http:/x" and
    // "http:///x" as "http://x/", which no browser link means.
    const std::string_view afterScheme = url.substr(written->size() + 1);
    if (!afterScheme.starts_with("//") || afterScheme.size() < 3 || afterScheme[2] == '/' ||
        afterScheme[2] == '\\')
        return std::nullopt;

    const CurlUrl parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, std::string(url).c_str(),
                                CURLU_ALLOW_SPACE) != CURLUE_OK)
        return std::nullopt;
    std::optional<std::string> scheme = Part(parsed.get(), CURLUPART_SCHEME, 0);
    std::optional<std::string> host = Part(parsed.get(), CURLUPART_HOST, 0);
    const std::optional<std::string> port = Part(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || host->empty() || !port)
        return std::nullopt;
    WebUrl result{std::move(*scheme), std::move(*host), 0};
    std::transform(result.scheme.begin(), result.scheme.end(), result.scheme.begin(), AsciiLower);
    std::transform(result.host.begin(), result.host.end(), result.host.begin(), AsciiLower);
    if (result.scheme != *written)
        return std::nullopt;
    const auto [end, error] =
        std::from_chars(port->data(), port->data() + port->size(), result.port);
    if (error != std::errc() || end != port->data() + port->size())
        return std::nullopt;
    return result;
}

std::optional<std::string> OriginOf(const std::string& url) {
    const std::optional<std::string> scheme = UrlScheme(url);
    if (!scheme)
        return std::nullopt;
    if (*scheme == "http" || *scheme == "https") {
        const std::optional<WebUrl> web = ParseWebUrl(url);
        if (!web)
            return std::nullopt;
        return web->scheme + "://" + web->host + ":" + std::to_string(web->port);
    }
    const size_t fragment = std::min(url.find('#'), url.size());
    return *scheme + url.substr(scheme->size(), fragment - scheme->size());
}

std::string UrlWithoutCredentials(const std::string& url) {
    const CurlUrl parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return {};
    curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0);
    return Part(parsed.get(), CURLUPART_URL, 0).value_or(std::string());
}

std::string LoggedUrl(const std::string& url) {
    if (url.empty())
        return "(no address)";
    std::string clean = UrlWithoutCredentials(url);
    return clean.empty() ? "(unreadable address)" : clean;
}

} // namespace tarvik
