#include "download/failure_from_curl.h"

namespace tarvik::download {

DownloadFailure FailureFromCurl(CURLcode code) {
    switch (code) {
    // Only the body's write callback can fail a write here, and only when the disk refuses.
    case CURLE_WRITE_ERROR:
        return DownloadFailure::File;
    // The answer or the address is unusable, whatever the connection: an error status, a
    // redirect loop, a scheme other than http/https (also as a redirect target), a malformed URL.
    case CURLE_HTTP_RETURNED_ERROR:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return DownloadFailure::Http;
    // Connection, name lookup, TLS, time-outs, a dropped connection and library trouble: trying
    // again later may help.
    default:
        return DownloadFailure::Network;
    }
}

} // namespace tarvik::download
