#include "platform/posix/posix_system.h"
#include "platform/posix/proxy_lookup.h"

#include "platform/answer_within.h"
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
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// The resolver's list, in its order of preference: the first one the library can use.
std::optional<std::string> ChooseProxy(gchar** proxies) {
    for (gchar** entry = proxies; *entry; ++entry) {
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

} // namespace

std::optional<std::string> LookUpProxy(GProxyResolver* resolver, const std::string& url,
                                       std::chrono::milliseconds limit,
                                       const std::stop_token& stop) {
    if (!resolver || !g_proxy_resolver_is_supported(resolver))
        return std::nullopt;
    // Held by the lookup's thread, which may outlive this call.
    const std::shared_ptr<GProxyResolver> held(G_PROXY_RESOLVER(g_object_ref(resolver)),
                                               ObjectUnref());
    return AnswerWithin(
        [held, url](const std::stop_token& abandoned) -> std::optional<std::string> {
            const std::unique_ptr<GCancellable, ObjectUnref> cancellable(g_cancellable_new());
            // GIO's resolvers end a cancelled lookup at once: GNOME's stops its call to the PAC
            // runner, libproxy's returns while the script goes on in GIO's own thread.
            GCancellable* toCancel = cancellable.get();
            const std::stop_callback cancel(abandoned,
                                            [toCancel] { g_cancellable_cancel(toCancel); });
            GError* rawError = nullptr;
            const std::unique_ptr<gchar*, StrvFree> proxies(
                g_proxy_resolver_lookup(held.get(), url.c_str(), cancellable.get(), &rawError));
            const std::unique_ptr<GError, ErrorFree> error(rawError);
            if (!proxies)
                return std::nullopt;
            return ChooseProxy(proxies.get());
        },
        limit, stop);
}

PosixSystem::PosixSystem(std::chrono::milliseconds proxyLookupLimit)
    : proxyLookupLimit_(proxyLookupLimit) {}

std::optional<std::string> PosixSystem::ProxyFor(const std::string& url, std::stop_token stop) {
    // The default resolver is GIO's choice for this desktop: GNOME's settings in a GNOME session,
    // libproxy (environment variables, other desktops' settings, auto-configuration) elsewhere.
    // Without glib-networking only a stand-in is there, which says nothing.
    return LookUpProxy(g_proxy_resolver_get_default(), url, proxyLookupLimit_, stop);
}

} // namespace tarvik::platform::posix
