#pragma once

#include "common/download_failure.h"

#include <curl/curl.h>

namespace tarvik::download {

// How the page hears of a transfer that the library ended with `code` (not CURLE_OK).
DownloadFailure FailureFromCurl(CURLcode code);

} // namespace tarvik::download
