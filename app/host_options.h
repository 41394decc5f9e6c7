#pragma once

#include "common/endpoints.h"
#include "download/transfer_limits.h"
#include "service/service_limits.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace tarvik {

// What the host takes from outside besides its platform. The real program uses the defaults;
// tests point them at temporary files and loopback servers and shorten the time limits.
struct HostOptions {
    // Empty: `config.ini` beside the executable.
    std::filesystem::path configPath;
    std::string infoEndpoint = INFO_ENDPOINT;
    std::string logEndpoint = LOG_ENDPOINT;
    service::ServiceLimits serviceLimits;
    download::TransferLimits transferLimits;
    // The vendor's minisign public key; empty: installers are not signature-checked.
    std::string installerKey = kInstallerKey;
    // The publisher whose code signature every installer must carry (Windows); empty: none.
    std::string installerPublisher = kInstallerPublisher;
    // How long the window may stay without the vendor's page before the built-in page says that
    // the program is connecting, and how long the page has after its navigation started to size
    // the window before the built-in page says it could not be loaded.
    std::chrono::milliseconds connectingDelay{3'000};
    std::chrono::milliseconds pageLimit{20'000};
    // After "Try again", "Connecting…" stays at least this long before a failure replaces it.
    std::chrono::milliseconds retryShownAtLeast{600};
    // Event reports: how many may wait to be sent, and how long those still waiting when the
    // dialog ends get, all together, before the program ends without them.
    size_t eventQueueLimit = 256;
    std::chrono::milliseconds eventDrainLimit{2'000};
    // Empty: a fresh identifier from the current time.
    std::function<std::wstring()> makeInstallId;
};

} // namespace tarvik
