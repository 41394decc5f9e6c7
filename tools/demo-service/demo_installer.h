#pragma once

#include <cstdint>
#include <string>

namespace tarvik::demo {

// The demo "installer": a shell script that only prints a message, padded with comment lines to
// exactly `size` bytes (or to its own length if that is larger) so a download takes a while.
std::string MakeDemoInstaller(uint64_t size, const std::string& productName);

// The installer's signature file, made by the minisign tool with the secret key in `keyFile` (the
// tool asks for its password, if it has one). Throws std::runtime_error when the tool fails.
std::string SignWithMinisign(const std::string& installer, const std::string& keyFile);

} // namespace tarvik::demo
