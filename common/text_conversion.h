#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik {

// Host fields are wide strings. Narrow text (system calls, the transfer library, JSON values)
// uses the process code page, which on this platform is UTF-8. Conversions never fail: a narrow
// sequence that is not valid UTF-8 becomes U+FFFD, and a wide value that is not a Unicode scalar
// value (a lone surrogate, or beyond U+10FFFF) becomes U+FFFD as well.
std::wstring WideFromNarrow(std::string_view narrow);
std::string NarrowFromWide(std::wstring_view wide);

// UTF-8 -> wide -> narrow, cut at the first zero byte. Used for window titles.
std::string ToAnsiFromUtf8(std::string_view utf8);

// Narrow -> wide -> UTF-8. Used for inbound page messages.
std::string ToUtf8FromAnsi(std::string_view ansi);

// File paths from and to host strings. The standard library's own wide conversion depends on the
// process locale and throws for characters it cannot map (any non-ASCII name in the "C" locale);
// these never throw, since file names on this platform are UTF-8 bytes.
std::filesystem::path PathFromWide(std::wstring_view wide);
std::wstring WideFromPath(const std::filesystem::path& path);

} // namespace tarvik
