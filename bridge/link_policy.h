#pragma once

#include <string_view>

namespace tarvik::bridge {

// Whether a link from the page may be handed to the desktop: only absolute http and https URLs
// with a host. Anything else (a local path, file:, another scheme) could make the desktop open a
// local program or file on the page's behalf.
bool IsOpenableWebLink(std::string_view url);

} // namespace tarvik::bridge
