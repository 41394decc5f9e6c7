#pragma once

#include "service/curl_options.h"
#include "service/service_failure.h"
#include "service/service_limits.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvik::service {

struct EventReport {
    uint32_t downloaderId = 0;
    std::string event; // sent unchanged
    std::string uuid;
};

// POSTs the report as multipart/form-data (fields downloader_id, event, uuid, in that order) to
// `logEndpoint`, following redirects. The answer's body is discarded; the report counts as
// delivered (None) only when the final status is 2xx, otherwise the reason is returned.
// Nothing is retried or queued here.
ServiceFailure SendEventReport(const std::string& logEndpoint, const EventReport& report,
                               const ServiceLimits& limits, const RequestContext& context = {});

} // namespace tarvik::service
