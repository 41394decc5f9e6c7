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
    // it stopped. An attempt that brought new bytes is followed by the next one at once; one that
    // brought none waits `retryBackoff`, and each further one in a row twice as long.
    std::chrono::milliseconds retryBackoff{1000};
    // Each range gives up after `retries` attempts in a row without meaningful progress: an
    // attempt makes meaningful progress when it brings `meaningfulProgress` new bytes, or all the
    // range still needed when that is less. So a server that drops every connection after a few
    // bytes ends the download after three attempts instead of keeping it going for ever.
    int retries = 3;
    uint64_t meaningfulProgress = 1024 * 1024;
    // However much each attempt brought, a download makes at most this many retries in all
    // (every range together): a file of 1 GiB whose connection drops every 16 MiB needs 64.
    int retryBudget = 100;
    // Ranges fetched at the same time from a server that takes ranges, for a file of at least
    // `splitFrom` bytes; 1 always uses one connection. From `[download] connections`.
    int connections = 4;
    uint64_t splitFrom = 8ull * 1024 * 1024;
    // How long the worker sleeps in the library's wait at most while nothing happens; it bounds
    // how late a stall is seen. Every answer, the last one included, wakes it at once.
    std::chrono::milliseconds longestWait{100};
};

} // namespace tarvik::download
