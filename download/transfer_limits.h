#pragma once

#include <chrono>
#include <cstdint>

namespace tarvik::download {

// Bounds for the installer transfer; tests use short ones.
struct TransferLimits {
    std::chrono::milliseconds connect{30'000};
    // A transfer slower than `lowSpeedBytesPerSecond` for `lowSpeedTime` fails.
    std::chrono::milliseconds lowSpeedTime{60'000};
    uint32_t lowSpeedBytesPerSecond = 1;
    long maxRedirects = 10;
    // Progress messages are posted at most this often.
    std::chrono::milliseconds progressInterval{50};
};

} // namespace tarvik::download
