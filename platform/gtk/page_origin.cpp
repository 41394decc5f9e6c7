#include "platform/gtk/page_origin.h"

#include "common/curl/web_url.h"

#include <algorithm>

namespace tarvik::platform::gtk {

std::optional<std::string> OriginOf(const std::string& uri) {
    const std::optional<std::string> scheme = UrlScheme(uri);
    if (!scheme)
        return std::nullopt;
    if (*scheme == "http" || *scheme == "https") {
        const std::optional<WebUrl> web = ParseWebUrl(uri);
        if (!web)
            return std::nullopt;
        return web->scheme + "://" + web->host + ":" + std::to_string(web->port);
    }
    const size_t fragment = std::min(uri.find('#'), uri.size());
    return *scheme + uri.substr(scheme->size(), fragment - scheme->size());
}

} // namespace tarvik::platform::gtk
