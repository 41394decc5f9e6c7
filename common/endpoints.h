#pragma once

// The vendor's service origin is fixed when the program is built (TARVIK_SERVICE_ORIGIN in the
// build configuration); a vendor builds its own copy with its own origin.
#ifndef TARVIK_SERVICE_ORIGIN
#error "TARVIK_SERVICE_ORIGIN must be defined by the build"
#endif

namespace tarvik {

inline constexpr const char* kServiceOrigin = TARVIK_SERVICE_ORIGIN;
inline constexpr const char* INFO_ENDPOINT = TARVIK_SERVICE_ORIGIN "/downloader.php/index/info";
inline constexpr const char* LOG_ENDPOINT = TARVIK_SERVICE_ORIGIN "/downloader.php/index/log";

} // namespace tarvik
