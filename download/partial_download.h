#pragma once

#include "platform/system.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tarvik::download {

// What a transfer that failed for a network reason leaves behind so that the page's own retry
// (a new "dnld" with the same URL) continues where it stopped instead of starting over. The
// temporary file stays open in `file` and is deleted when this is destroyed, like any download
// file that was never committed, so a kept part never outlives the program run (the host holds
// it until the program ends or a download of another URL starts).
//
// Threads: handed from the worker to the host only after the worker has ended; one thread at a
// time.
struct PartialDownload {
    std::string url;
    std::string target;
    std::unique_ptr<platform::DownloadFile> file;
    // The bytes from the start of the file that are known to be the server's, in order.
    uint64_t held = 0;
    // The If-Range value the next request sends: the strong ETag of the answer those bytes came
    // from, else its Last-Modified. Never empty: without a validator nothing is kept.
    std::string validator;
};

} // namespace tarvik::download
