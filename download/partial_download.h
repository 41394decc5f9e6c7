#pragma once

#include "platform/system.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::download {

// What a transfer that failed for a network reason leaves behind so that the page's own retry
// (a new "dnld" with the same URL) continues where it stopped instead of starting over. The
// temporary file stays open in `file` and is deleted when this is destroyed, like any download
// file that was never committed, so a kept part never outlives the program run (the host holds
// it until the program ends or a download of another URL starts).
//
// Threads: handed from the worker to the host only after the worker has posted its last
// message; one thread at a time.
struct PartialDownload {
    // One range of the file and how far its bytes reach: [start, next) is held, [next, end) is
    // still to come; no end when one connection fetched the file from its start.
    struct Range {
        uint64_t start = 0;
        uint64_t next = 0;
        std::optional<uint64_t> end;
        bool operator==(const Range&) const = default;
    };

    std::string url;
    std::string target;
    std::unique_ptr<platform::DownloadFile> file;
    // Every range the transfer was fetching, in order, each with the bytes it held, so that the
    // retry keeps them all and fetches the rest on as many connections as before.
    std::vector<Range> ranges;
    // The file's length, when an answer told it.
    std::optional<uint64_t> total;
    // The If-Range value the next request sends: the strong ETag of the answer those bytes came
    // from, else its Last-Modified. Never empty: without a validator nothing is kept.
    std::string validator;

    // The bytes held, in all ranges together.
    uint64_t held() const {
        uint64_t bytes = 0;
        for (const Range& range : ranges)
            bytes += range.next - range.start;
        return bytes;
    }
};

} // namespace tarvik::download
