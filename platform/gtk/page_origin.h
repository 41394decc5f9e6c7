#pragma once

#include <optional>
#include <string>

namespace tarvik::platform::gtk {

// The origin of a page address, in a form that compares equal exactly when two pages share it:
// "scheme://host:port" for http and https, with the scheme and host in lower case and the default
// port written out. For any other scheme (a file, data or about page) there is no shared origin,
// so the address itself without its fragment stands for it. Nothing for an address that does not
// parse or is empty.
std::optional<std::string> OriginOf(const std::string& uri);

} // namespace tarvik::platform::gtk
