#pragma once

#include "service/product_info.h"

#include <string_view>

namespace tarvik::service {

// Reads the body of the service's info answer: one JSON value (a leading UTF-8 byte-order mark
// and surrounding white space allowed, no comments). It counts only when "code" equals 200 as a
// JSON number and data.name is a string; data.url1 is taken when it is a string too. Anything
// else, including a body that is not JSON or not an object, gives an empty result. Never throws
// for bad input.
ProductInfo ParseInfoAnswer(std::string_view body);

} // namespace tarvik::service
