#include "common/text_conversion.h"

#include <gtest/gtest.h>

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
        EXPECT_EQ(ToUtf8FromAnsi(c.narrow), c.narrowAgain);
    }
}

TEST(TextConversion, WideValuesThatAreNoCharactersBecomeReplacementCharacters) {
    const std::wstring wide = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000)};
    EXPECT_EQ(NarrowFromWide(wide), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(TextConversion, TitlesEndAtTheFirstZero) {
    EXPECT_EQ(ToAnsiFromUtf8(std::string("Demo\0rest", 9)), "Demo");
    EXPECT_EQ(ToAnsiFromUtf8("\xE4\xB8\x8B\xFF"), "\xE4\xB8\x8B\xEF\xBF\xBD");
}

} // namespace
} // namespace tarvik
