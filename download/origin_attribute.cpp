#include "download/origin_attribute.h"

#include "common/curl/web_url.h"

#include <sys/xattr.h>

namespace tarvik::download {
void RecordOrigin(int descriptor, const std::string& url) {
    const std::string stored = UrlWithoutCredentials(url);
    if (descriptor < 0 || stored.empty())
        return;
    ::fsetxattr(descriptor, "user.xdg.origin.url", stored.data(), stored.size(), 0);
}

} // namespace tarvik::download
