#pragma once

#include "platform/system.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik::settings {

// A small reader and writer of INI files with the semantics that distributors' `config.ini`
// files rely on: section and key names compared case-insensitively, white space around names
// and values trimmed, one pair of matching quotes around a value dropped (see ini_text.h), lines
// starting with ';' are comments, the first matching key of the first matching section wins,
// integers are read from the leading decimal digits (0 when there are none). Files go through
// `system`; `file` is a UTF-8 path. A file is UTF-8 (with or without a byte-order mark), or
// UTF-16LE when it starts with that byte-order mark, as the Windows profile functions write it; a
// write keeps the file's encoding.
//
// Reading follows symbolic links (a vendor may link a shared file). A write replaces or adds just
// that key, keeps every other line as it was, and goes only into a regular file of that very name
// (or creates one), never through or over a link.

// Settings files are read whole. Larger ones are refused rather than loaded, so a stray huge file
// next to the executable cannot exhaust memory; a write that would make a file larger is refused,
// so that the next start can still read what was written.
inline constexpr size_t kMaxSettingsFileBytes = 16 * 1024 * 1024;

uint32_t ReadProfileInt(platform::System& system, const std::string& file,
                        std::wstring_view section, std::wstring_view key, uint32_t defaultValue);

// At most `maxChars` characters of the value are returned.
std::wstring ReadProfileString(platform::System& system, const std::string& file,
                               std::wstring_view section, std::wstring_view key,
                               std::wstring_view defaultValue, size_t maxChars = 259);

// Creates the file (holding just that section and key) when it does not exist. The file is
// replaced atomically (a new file renamed over it), so a crash never leaves a half-written file;
// when its folder refuses a new file, the existing file is rewritten where it is instead, so that
// what is written survives the run. False when the file could not be written, or was not a
// regular file of that name, or would have grown past kMaxSettingsFileBytes; it is then unchanged.
bool WriteProfileValue(platform::System& system, const std::string& file, std::wstring_view section,
                       std::wstring_view key, std::wstring_view value);

} // namespace tarvik::settings
