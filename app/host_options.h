#pragma once

#include "common/endpoints.h"
#include "download/transfer_limits.h"
#include "service/service_limits.h"

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
    // Empty: a fresh identifier from the current time.
    std::function<std::wstring()> makeInstallId;
};

} // namespace tarvik
