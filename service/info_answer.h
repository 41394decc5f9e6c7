#pragma once

#include "service/product_info.h"

#include <string_view>

namespace tarvik::service {

// Reads the body of the service's info answer, all of its length: one JSON value (a leading
// UTF-8 byte-order mark and surrounding white space allowed, no comments, no zero byte). It counts
// only when "code" equals 200 as a JSON number and data.name is a string; data.url1 is taken when
// it is a string too. Anything else gives an empty result with its reason: Malformed for a body
// that is not one JSON object or lacks a string data.name, Declined for an object whose "code" is
// not 200. Never throws for bad input.
ProductInfo ParseInfoAnswer(std::string_view body);

} // namespace tarvik::service
