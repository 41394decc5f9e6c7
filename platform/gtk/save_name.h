#pragma once

#include <cstddef>
#include <string>

namespace tarvik::platform::gtk {

// The longest file name (one path component, in bytes) of the usual Linux file systems.
inline constexpr size_t kMaxFileNameBytes = 255;

// The name with "." + `defaultExtension` appended when its last component has no extension and
// stays within kMaxFileNameBytes with it.
std::string WithDefaultExtension(const std::string& path, const std::string& defaultExtension);

} // namespace tarvik::platform::gtk
