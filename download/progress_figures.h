#pragma once

#include <cstdint>

namespace tarvik::download {

// How far the installer transfer has come: bytes received of the announced total.
struct ProgressFigures {
    uint64_t received = 0;
    int64_t total = 0;
    bool operator==(const ProgressFigures&) const = default;
};

} // namespace tarvik::download
