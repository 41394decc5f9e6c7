#pragma once

#include "service/product_info.h"

#include <ostream>

namespace tarvik::service {

// Readable names in test messages instead of enum numbers.
inline void PrintTo(ServiceFailure failure, std::ostream* out) {
    static const char* const kNames[] = {"None",       "BadUrl",   "Setup",
                                         "Network",    "Timeout",  "TooLarge",
                                         "HttpStatus", "Declined", "Malformed"};
    const auto index = static_cast<size_t>(failure);
    *out << (index < std::size(kNames) ? kNames[index] : "?");
}

inline void PrintTo(const ProductInfo& info, std::ostream* out) {
    *out << "{name=" << (info.name ? "\"" + *info.name + "\"" : "none")
         << " pageUrl=" << (info.pageUrl ? "\"" + *info.pageUrl + "\"" : "none") << " failure=";
    PrintTo(info.failure, out);
    *out << " status=" << info.httpStatus
         << " certificate=" << CertificateProblemText(info.certificate) << "}";
}

} // namespace tarvik::service
