#pragma once

#include <string_view>

namespace tarvik::bridge {

// Whether a link from the page may be handed to the desktop: absolute http and https URLs with
// a host, and mailto: links with at least one address ("contact support" on a page). Anything
// else (a local path, file:, smb:, another scheme) could make the desktop open a local program
// or file on the page's behalf. No link holds white space or control characters, which a
// desktop handler could split into further arguments.
bool IsOpenableLink(std::string_view url);

} // namespace tarvik::bridge
