#include "platform/win32/proxy_settings.h"

#include "common/curl/web_url.h"
#include "common/text_conversion.h"
#include "platform/answer_within.h"
#include "platform/proxy_url.h"
#include "platform/win32/win32_system.h"

#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

namespace tarvik::platform::win32 {
namespace {

// WinHTTP hands its texts over for the caller to free with GlobalFree.
void FreeWinHttpTexts(std::initializer_list<LPWSTR> texts) {
    for (LPWSTR text : texts) {
        if (text)
            ::GlobalFree(text);
    }
}

// The user's proxy settings as WinHTTP hands them over.
struct IeProxyConfig {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
    IeProxyConfig() = default;
    IeProxyConfig(const IeProxyConfig&) = delete;
    IeProxyConfig& operator=(const IeProxyConfig&) = delete;
    ~IeProxyConfig() {
        FreeWinHttpTexts({raw.lpszAutoConfigUrl, raw.lpszProxy, raw.lpszProxyBypass});
    }
};

struct ProxyInfo {
    WINHTTP_PROXY_INFO raw{};
    ProxyInfo() = default;
    ProxyInfo(const ProxyInfo&) = delete;
    ProxyInfo& operator=(const ProxyInfo&) = delete;
    ~ProxyInfo() { FreeWinHttpTexts({raw.lpszProxy, raw.lpszProxyBypass}); }
};

std::string Narrow(const wchar_t* text) {
    return text ? NarrowFromWide(text) : std::string();
}

// Whether automatic detection found no configuration on this network before: it is then not
// asked again for every request of this run (on a network without one it costs a DNS lookup,
// and a DHCP query, each time).
std::atomic<bool> detectionFoundNothing{false};

// The proxy the automatic settings give for `url`: detection on the network (WPAD) and the
// configuration script's address. Nothing when they give no answer.
std::optional<std::string> AutomaticProxyFor(const std::string& url,
                                             const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    const std::wstring script = config.lpszAutoConfigUrl ? config.lpszAutoConfigUrl : L"";
    const bool detect = config.fAutoDetect && !detectionFoundNothing.load();
    if (detect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!script.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = script.c_str();
    }
    if (options.dwFlags == 0)
        return std::nullopt;
    // One session for the run: WinHTTP keeps the script's address and the script it fetched
    // with the session, so that a lookup per request (the info request, every event report,
    // each download attempt) does not fetch and run the script again each time. It is never
    // closed: a lookup its caller gave up on may still be using it on its own thread while the
    // program ends (see AnswerWithin); the system frees it with the process.
    static const HINTERNET session = ::WinHttpOpen(
        L"Tarvik", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return std::nullopt;
    const std::wstring address = WideFromNarrow(url);
    ProxyInfo info;
    BOOL found = ::WinHttpGetProxyForUrl(session, address.c_str(), &options, &info.raw);
    // A script behind an authenticating server is fetched with the user's logon, as the
    // browser fetches it; only then, as the system service keeps no script fetched that way.
    if (!found && ::GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        options.fAutoLogonIfChallenged = TRUE;
        found = ::WinHttpGetProxyForUrl(session, address.c_str(), &options, &info.raw);
    }
    if (!found) {
        if (detect && script.empty() && ::GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED)
            detectionFoundNothing.store(true);
        return std::nullopt;
    }
    if (info.raw.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.raw.lpszProxy)
        return FirstListedProxy(NarrowFromWide(info.raw.lpszProxy));
    return std::string(); // the script said DIRECT
}

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

namespace {

// The user's settings, which the web view follows too. Without them (WinHTTP refuses), the
// transfer library reads the usual environment variables itself.
std::optional<std::string> UsersProxyFor(const std::string& url) {
    IeProxyConfig config;
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config.raw))
        return std::nullopt;
    if (config.raw.fAutoDetect || config.raw.lpszAutoConfigUrl) {
        // As the browser does: automatic settings first, and the manual ones when they find
        // nothing.
        if (std::optional<std::string> automatic = AutomaticProxyFor(url, config.raw))
            return automatic;
    }
    return ManualProxyFor({Narrow(config.raw.lpszProxy), Narrow(config.raw.lpszProxyBypass)}, url);
}

} // namespace

// The System's proxy on Windows, beside the reading of the settings it asks WinHTTP for.
std::optional<std::string> Win32System::ProxyFor(const std::string& url, std::stop_token stop) {
    // WinHTTP's lookup cannot be interrupted; a lookup given up goes on by itself.
    return AnswerWithin([url](std::stop_token) { return UsersProxyFor(url); }, kProxyLookupLimit,
                        stop);
}

} // namespace tarvik::platform::win32
