#include "platform/posix/posix_system.h"

#include "platform/proxy_url.h"

#include <gio/gio.h>

#include <memory>
#include <string_view>

namespace tarvik::platform::posix {

namespace {

struct StrvFree {
    void operator()(gchar** list) const { g_strfreev(list); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

} // namespace

std::optional<std::string> PosixSystem::ProxyFor(const std::string& url) {
    // The default resolver is GIO's choice for this desktop: GNOME's settings in a GNOME session,
    // libproxy (environment variables, other desktops' settings, auto-configuration) elsewhere.
    // Without glib-networking only a stand-in is there, which says nothing.
    GProxyResolver* resolver = g_proxy_resolver_get_default();
    if (!resolver || !g_proxy_resolver_is_supported(resolver))
        return std::nullopt;
    GError* rawError = nullptr;
    const std::unique_ptr<gchar*, StrvFree> proxies(
        g_proxy_resolver_lookup(resolver, url.c_str(), nullptr, &rawError));
    const std::unique_ptr<GError, ErrorFree> error(rawError);
    if (!proxies)
        return std::nullopt;
    // In the resolver's order of preference: the first one the library can use.
    for (gchar** entry = proxies.get(); *entry; ++entry) {
        const std::string_view proxy(*entry);
        if (proxy == "direct://")
            return std::string();
        // GIO may also name kinds the library lacks, and lists alternatives for one setting
        // ("socks://" comes as socks5, socks4a and socks4).
        if (TransferLibraryTakesProxy(proxy))
            return std::string(proxy);
    }
    return std::nullopt;
}

} // namespace tarvik::platform::posix
