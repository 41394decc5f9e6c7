#include "common/text_conversion.h"

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

std::string CutAtZero(std::string text) {
    const auto zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

} // namespace

std::wstring WideFromNarrow(std::string_view narrow) {
    std::wstring wide;
    wide.reserve(narrow.size());
    size_t pos = 0;
    while (pos < narrow.size())
        wide += static_cast<wchar_t>(DecodeOne(narrow, pos));
    return wide;
}

std::string NarrowFromWide(std::wstring_view wide) {
    std::string narrow;
    narrow.reserve(wide.size());
    for (const wchar_t c : wide)
        AppendUtf8(narrow, static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c)));
    return narrow;
}

std::string ToAnsiFromUtf8(std::string_view utf8) {
    return CutAtZero(NarrowFromWide(WideFromNarrow(utf8)));
}

std::filesystem::path PathFromWide(std::wstring_view wide) {
    return std::filesystem::path(NarrowFromWide(wide));
}

std::wstring WideFromPath(const std::filesystem::path& path) {
    return WideFromNarrow(path.native());
}

std::string ToUtf8FromAnsi(std::string_view ansi) {
    return NarrowFromWide(WideFromNarrow(ansi));
}

} // namespace tarvik
