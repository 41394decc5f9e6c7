#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik {

// Host fields are wide strings: UTF-32 where wchar_t has 32 bits (Linux), UTF-16 where it has 16
// (Windows, where a character beyond U+FFFF takes a surrogate pair). Narrow text (the platform
// seam, the transfer library, JSON values) is UTF-8. Conversions never fail: a narrow sequence
// that is not valid UTF-8 becomes U+FFFD, and a wide value that is not a Unicode scalar value (a
// lone surrogate, or beyond U+10FFFF) becomes U+FFFD as well.
std::wstring WideFromNarrow(std::string_view narrow);
std::string NarrowFromWide(std::wstring_view wide);

// UTF-8 -> wide -> the process code page, cut at the first zero byte. Used for window titles.
// The process code page is UTF-8 on Linux and the ANSI code page on Windows, where characters the
// code page lacks become its default character.
std::string ToAnsiFromUtf8(std::string_view utf8);

// Process code page -> wide -> UTF-8. Used for inbound page messages.
std::string ToUtf8FromAnsi(std::string_view ansi);

// File paths from and to host strings and seam (UTF-8) strings. The standard library's own
// conversions depend on the process locale (Linux) or the ANSI code page (Windows) and can throw
// or lose characters; these never throw. On Linux a file name is bytes and UTF-8 paths pass
// unchanged; on Windows paths are made from UTF-16.
std::filesystem::path PathFromWide(std::wstring_view wide);
std::wstring WideFromPath(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

} // namespace tarvik
