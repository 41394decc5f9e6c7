#include "common/text_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

namespace tarvik {
namespace {

TEST(TextConversion, NarrowTextRoundTripsAndBadBytesBecomeReplacementCharacters) {
    struct Case {
        std::string narrow;
        std::wstring wide;
        std::string narrowAgain;
    };
    const Case cases[] = {
        {"Setup.exe", L"Setup.exe", "Setup.exe"},
        {"\xE8\xBF\x90\xE8\xA1\x8C", L"运行", "\xE8\xBF\x90\xE8\xA1\x8C"},
        {"\xF0\x9F\x93\xA6", L"\U0001F4E6", "\xF0\x9F\x93\xA6"},
        {"a\xFF"
         "b",
         L"a\uFFFDb",
         "a\xEF\xBF\xBD"
         "b"},                                                     // stray byte
        {"\xC0\xAF", L"\uFFFD\uFFFD", "\xEF\xBF\xBD\xEF\xBF\xBD"}, // overlong '/'
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD",                    // encoded surrogate
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xE8\xBF", L"\uFFFD", "\xEF\xBF\xBD"}, // cut short
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.narrowAgain);
        EXPECT_EQ(WideFromNarrow(c.narrow), c.wide);
        EXPECT_EQ(NarrowFromWide(c.wide), c.narrowAgain);
    }
}

// Wide text is UTF-16 where wchar_t has 16 bits: a character beyond U+FFFF is a surrogate pair
// there and one unit elsewhere, and only a high surrogate followed by a low one is a character.
TEST(TextConversion, SurrogatesPairOnlyWhereWideTextIsUtf16) {
    constexpr bool utf16 = sizeof(wchar_t) == 2;
    const auto units = [](std::initializer_list<uint32_t> values) {
        std::wstring wide;
        for (const uint32_t v : values)
            wide += static_cast<wchar_t>(v);
        return wide;
    };
    const std::string grinning = "\xF0\x9F\x98\x80"; // U+1F600
    const std::string replacement = "\xEF\xBF\xBD";
    struct Case {
        const char* what;
        std::wstring wide;
        std::string narrow;
    };
    const Case cases[] = {
        {"pair", units({0xD83D, 0xDE00}), utf16 ? grinning : replacement + replacement},
        {"lone high", units({'a', 0xD83D, 'b'}), "a" + replacement + "b"},
        {"high at the end", units({'a', 0xD83D}), "a" + replacement},
        {"lone low", units({0xDE00, 'b'}), replacement + "b"},
        {"low before high", units({0xDE00, 0xD83D}), replacement + replacement},
        {"two highs then a low", units({0xD83D, 0xD83D, 0xDE00}),
         utf16 ? replacement + grinning : replacement + replacement + replacement},
        {"beyond U+10FFFF", utf16 ? std::wstring() : units({0x110000}), utf16 ? "" : replacement},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(NarrowFromWide(c.wide), c.narrow);
    }
    // The other way, U+1F600 must not lose its plane (cut to 16 bits it would be U+F600).
    const std::wstring wide = WideFromNarrow(grinning);
    EXPECT_EQ(wide, utf16 ? units({0xD83D, 0xDE00}) : units({0x1F600}));
    EXPECT_EQ(NarrowFromWide(wide), grinning);
}

// Paths keep every character on their way to the file system and back, whatever the code page.
TEST(TextConversion, PathsKeepEveryCharacter) {
    const std::string name = "\xE8\xBF\x90\xE8\xA1\x8C \xF0\x9F\x98\x80 caf\xC3\xA9.exe";
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(name)), name);
    EXPECT_EQ(WideFromPath(PathFromWide(WideFromNarrow(name))), WideFromNarrow(name));
    EXPECT_EQ(Utf8FromPath(PathFromUtf8("folder/" + name).filename()), name);
}

} // namespace
} // namespace tarvik
