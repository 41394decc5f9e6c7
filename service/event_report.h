#pragma once

#include "service/service_limits.h"

#include <cstdint>
#include <string>

namespace tarvik::service {

struct EventReport {
    uint32_t downloaderId = 0;
    std::string event; // sent unchanged
    std::string uuid;
};

// POSTs the report as multipart/form-data (fields downloader_id, event, uuid, in that order) to
// `logEndpoint`, following redirects. The answer is discarded; false when the request failed.
// Nothing is retried or queued.
bool SendEventReport(const std::string& logEndpoint, const EventReport& report,
                     const ServiceLimits& limits);

} // namespace tarvik::service
