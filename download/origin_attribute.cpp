#include "download/origin_attribute.h"

#include "common/curl/web_url.h"

namespace tarvik::download {

void RecordOrigin(platform::DownloadFile& file, const std::string& url) {
    const std::string stored = UrlWithoutCredentials(url);
    if (stored.empty())
        return;
    file.RecordOriginUrl(stored);
}

} // namespace tarvik::download
