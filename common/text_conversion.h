#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik {

// Text inside the program is UTF-8 (the page's JSON, the platform seam, the transfer library).
// Wide text is what some system interfaces take: UTF-32 where wchar_t has 32 bits (Linux), UTF-16
// where it has 16 (Windows, where a character beyond U+FFFF takes a surrogate pair); text becomes
// wide only where such an interface needs it. Conversions never fail: a narrow sequence that is
// not valid UTF-8 becomes U+FFFD, and a wide value that is not a Unicode scalar value (a lone
// surrogate, or beyond U+10FFFF) becomes U+FFFD as well.
std::wstring WideFromNarrow(std::string_view narrow);
std::string NarrowFromWide(std::wstring_view wide);

// File paths from and to wide and UTF-8 strings. The standard library's own
// conversions depend on the process locale (Linux) or the ANSI code page (Windows) and can throw
// or lose characters; these never throw. On Linux a file name is bytes and UTF-8 paths pass
// unchanged; on Windows paths are made from UTF-16.
std::filesystem::path PathFromWide(std::wstring_view wide);
std::wstring WideFromPath(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

} // namespace tarvik
