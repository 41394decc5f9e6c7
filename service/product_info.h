#pragma once

#include "common/start_failure.h"
#include "service/curl_options.h"
#include "service/service_failure.h"
#include "service/service_limits.h"

#include <optional>
#include <string>

namespace tarvik::service {

// What the service said about the package this copy stands for. A failed request, an answer
// whose "code" is not 200, or a malformed answer leaves both empty and says why in `failure`; a
// good "name" with a bad "url1" gives the name alone and no failure.
struct ProductInfo {
    std::optional<std::string> name;    // UTF-8, becomes the window title
    std::optional<std::string> pageUrl; // becomes the page shown in the web view
    ServiceFailure failure = ServiceFailure::None;
    // The final answer's HTTP status; 0 without an answer.
    long httpStatus = 0;
    // Set when the connection failed because the server's certificate was refused.
    CertificateProblem certificate = CertificateProblem::None;

    bool operator==(const ProductInfo&) const = default;
};

// HTTP GET of `infoUrl` (no redirects followed); only the body counts, not the status. An abort
// thrown from another thread ends it at once (failure Network).
ProductInfo RequestProductInfo(const std::string& infoUrl, const ServiceLimits& limits,
                               const RequestContext& context = {});

} // namespace tarvik::service
