#pragma once

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

} // namespace tarvik
