#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik::settings {

// A small reader and writer of INI files with the semantics that distributors' `config.ini`
// files rely on: section and key names compared case-insensitively, white space around names
// and values trimmed, lines starting with ';' are comments, the first matching key of the first
// matching section wins, integers are read from the leading decimal digits (0 when there are
// none). A write replaces or adds just that key, keeps every other line as it was, and replaces
// the file atomically (temporary file, then rename), so a crash never leaves a half-written file.

uint32_t ReadProfileInt(const std::filesystem::path& file, std::wstring_view section,
                        std::wstring_view key, uint32_t defaultValue);

// At most `maxChars` characters of the value are returned.
std::wstring ReadProfileString(const std::filesystem::path& file, std::wstring_view section,
                               std::wstring_view key, std::wstring_view defaultValue,
                               size_t maxChars = 259);

// Creates the file (holding just that section and key) when it does not exist. False when the
// file could not be written; the old file is then unchanged.
bool WriteProfileString(const std::filesystem::path& file, std::wstring_view section,
                        std::wstring_view key, std::wstring_view value);

} // namespace tarvik::settings
