#pragma once

#include <chrono>
#include <string>

namespace tarvik::service {

// Upper bounds for a request to the vendor's service; a request that exceeds them counts as
// failed. Without them a silent service would freeze the program.
struct ServiceLimits {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds total{30'000};
    // A file of certificate authorities trusted instead of the system's; empty for the system's.
    // Only tests set it, to serve certificates of their own making.
    std::string trustedAuthorities;
};

} // namespace tarvik::service
