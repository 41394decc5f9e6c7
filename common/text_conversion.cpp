#include "common/text_conversion.h"

#include <algorithm>
#include <cstdint>

namespace tarvik {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalarValue(char32_t c) {
    return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

// Decodes one UTF-8 sequence starting at `pos`, advancing `pos` past it. Malformed input
// (overlong forms, surrogates, truncated or stray continuation bytes) yields U+FFFD and consumes
// the maximal invalid prefix, as the Unicode standard recommends.
char32_t DecodeOne(std::string_view s, size_t& pos) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
    const uint8_t lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    size_t length = 0;
    char32_t value = 0;
    uint8_t lowest = 0x80, highest = 0xBF; // allowed range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0)
            lowest = 0xA0;
        if (lead == 0xED)
            highest = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0)
            lowest = 0x90;
        if (lead == 0xF4)
            highest = 0x8F;
    } else {
        ++pos;
        return kReplacement;
    }
    ++pos;
    for (size_t i = 1; i < length; ++i) {
        if (pos >= s.size())
            return kReplacement;
        const uint8_t next = byte(pos);
        const uint8_t low = (i == 1) ? lowest : 0x80;
        const uint8_t high = (i == 1) ? highest : 0xBF;
        if (next < low || next > high)
            return kReplacement;
        value = (value << 6) | (next & 0x3F);
        ++pos;
    }
    return value;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (!IsScalarValue(c))
        c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Where wchar_t has 16 bits (Windows), wide text is UTF-16: characters beyond U+FFFF take a
// surrogate pair, and only a high surrogate followed by a low one stands for a character.
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendWide(std::wstring& wide, char32_t c) {
    if (kWideIsUtf16 && c >= 0x10000) {
        c -= 0x10000;
        wide += static_cast<wchar_t>(0xD800 + (c >> 10));
        wide += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        return;
    }
    wide += static_cast<wchar_t>(c);
}

// Reads one character from wide text starting at `pos`, advancing `pos` past it; a lone surrogate
// comes back as it is (and is written as U+FFFD).
char32_t ReadWide(std::wstring_view wide, size_t& pos) {
    const auto unit = [&](size_t i) {
        return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i]));
    };
    const char32_t first = unit(pos++);
    if (kWideIsUtf16 && IsHighSurrogate(first) && pos < wide.size() && IsLowSurrogate(unit(pos))) {
        const char32_t second = unit(pos++);
        return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
    }
    return first;
}

} // namespace

std::wstring WideFromNarrow(std::string_view narrow) {
    std::wstring wide;
    wide.reserve(narrow.size());
    size_t pos = 0;
    while (pos < narrow.size())
        AppendWide(wide, DecodeOne(narrow, pos));
    return wide;
}

std::string NarrowFromWide(std::wstring_view wide) {
    std::string narrow;
    narrow.reserve(wide.size());
    size_t pos = 0;
    while (pos < wide.size())
        AppendUtf8(narrow, ReadWide(wide, pos));
    return narrow;
}

#ifdef _WIN32

// Paths are wide on Windows: made from UTF-16 directly, never through the ANSI code page that the
// standard library's narrow constructor would read.
std::filesystem::path PathFromWide(std::wstring_view wide) {
    return std::filesystem::path(std::wstring(wide));
}

std::wstring WideFromPath(const std::filesystem::path& path) {
    return path.native();
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return PathFromWide(WideFromNarrow(utf8));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    return NarrowFromWide(path.native());
}

#else

std::filesystem::path PathFromWide(std::wstring_view wide) {
    return std::filesystem::path(NarrowFromWide(wide));
}

std::wstring WideFromPath(const std::filesystem::path& path) {
    return WideFromNarrow(path.native());
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    return path.native();
}

#endif

} // namespace tarvik
