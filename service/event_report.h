#pragma once

#include "service/service_failure.h"
#include "service/service_limits.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvik {
class AbortSwitch;
}

namespace tarvik::service {

struct EventReport {
    uint32_t downloaderId = 0;
    std::string event; // sent unchanged
    std::string uuid;
};

// POSTs the report as multipart/form-data (fields downloader_id, event, uuid, in that order) to
// `logEndpoint`, following redirects. The answer's body is discarded; the report counts as
// delivered (None) only when the final status is 2xx, otherwise the reason is returned.
// Nothing is retried or queued. With `abort`, throwing it from another thread ends the request
// at once; with `deadline`, the request ends there at the latest (failure Timeout).
ServiceFailure
SendEventReport(const std::string& logEndpoint, const EventReport& report,
                const ServiceLimits& limits, AbortSwitch* abort = nullptr,
                std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

} // namespace tarvik::service
