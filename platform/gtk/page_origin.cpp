#include "platform/gtk/page_origin.h"

#include "platform/gtk/gobject_ptr.h"

#include <glib.h>

namespace tarvik::platform::gtk {

namespace {

struct GUriUnref {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using GUriPtr = std::unique_ptr<GUri, GUriUnref>;

std::string Lower(const char* text) {
    GCharPtr lowered(g_ascii_strdown(text ? text : "", -1));
    return lowered.get();
}

} // namespace

std::optional<std::string> OriginOf(const std::string& uri) {
    if (uri.empty())
        return std::nullopt;
    GUriPtr parsed(g_uri_parse(uri.c_str(), G_URI_FLAGS_ENCODED, nullptr));
    if (!parsed)
        return std::nullopt;
    const std::string scheme = Lower(g_uri_get_scheme(parsed.get()));
    if (scheme == "http" || scheme == "https") {
        const std::string host = Lower(g_uri_get_host(parsed.get()));
        if (host.empty())
            return std::nullopt;
        int port = g_uri_get_port(parsed.get());
        if (port < 0)
            port = scheme == "https" ? 443 : 80;
        return scheme + "://" + host + ":" + std::to_string(port);
    }
    GCharPtr withoutFragment(g_uri_to_string_partial(parsed.get(), G_URI_HIDE_FRAGMENT));
    return std::string(withoutFragment.get());
}

} // namespace tarvik::platform::gtk
