#pragma once

#include <cstdint>
#include <string_view>

namespace tarvik {

// Why a transfer failed; carried in the failure message's wParam and named in the page notice.
enum class DownloadFailure : uint64_t {
    Network = 1,   // connection, name lookup, TLS, time-outs, a dropped connection
    Http = 2,      // an error status, too many redirects, a refused redirect or scheme
    File = 3,      // the file could not be created, written or put in place
    Cancelled = 4, // the page's "dnld_cancel" stopped it
    Verify = 5,    // the file's SHA-256 is not the one the page gave
};

constexpr std::string_view ReasonText(DownloadFailure failure) {
    switch (failure) {
    case DownloadFailure::Network:
        return "network";
    case DownloadFailure::Http:
        return "http";
    case DownloadFailure::File:
        return "file";
    case DownloadFailure::Cancelled:
        return "cancelled";
    case DownloadFailure::Verify:
        return "verify";
    }
    return "network";
}

} // namespace tarvik
