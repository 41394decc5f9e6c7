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
    // A transfer that fails for a network reason after bytes have arrived is retried from where
    // it stopped. It gives up after `retries` attempts in a row that brought no new bytes; the
    // first retry waits `retryBackoff`, each further one in a row twice as long.
    int retries = 3;
    std::chrono::milliseconds retryBackoff{1000};
    // Ranges fetched at the same time from a server that takes ranges, for a file of at least
    // `splitFrom` bytes; 1 always uses one connection. From `[download] connections`.
    int connections = 4;
    uint64_t splitFrom = 8ull * 1024 * 1024;
};

} // namespace tarvik::download
