#pragma once

#include <cstdint>
#include <string>

namespace tarvik::demo {

// The demo "installer": a shell script that only prints a message, padded with comment lines to
// exactly `size` bytes (or to its own length if that is larger) so a download takes a while.
std::string MakeDemoInstaller(uint64_t size, const std::string& productName);

} // namespace tarvik::demo
