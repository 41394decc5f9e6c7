#pragma once

#include <chrono>

namespace tarvik::service {

// Upper bounds for a request to the vendor's service; a request that exceeds them counts as
// failed. Without them a silent service would freeze the program.
struct ServiceLimits {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds total{30'000};
};

} // namespace tarvik::service
