#include "settings/install_id.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <string_view>

namespace tarvik::settings {
namespace {

constexpr std::wstring_view kAlphabet =
    L"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool AllFromAlphabet(std::wstring_view text) {
    return text.find_first_not_of(kAlphabet) == std::wstring_view::npos;
}

TEST(MakeInstallIdAtTest, StartsWithTheHexTimestampAndFillsUpTo32Characters) {
    struct Case {
        const char* label;
        UtcTime time;
        std::wstring timestamp;
    };
    const Case cases[] = {
        {"example", {2025, 1, 15, 2, 1, 26, 123}, L"7E9010F02011A07B"},
        {"milliseconds 999", {2025, 12, 31, 23, 59, 59, 999}, L"7E90C1F173B3B3E7"},
        {"milliseconds 5, second 0", {2024, 2, 29, 0, 0, 0, 5}, L"7E8021D000000005"},
        {"a short year gives a longer random part", {255, 1, 1, 0, 0, 0, 0}, L"FF0101000000000"},
        {"a year from 4096 gives 17 characters", {4096, 1, 1, 0, 0, 0, 0}, L"10000101000000000"},
    };
    std::mt19937_64 random(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring id = MakeInstallIdAt(c.time, random);
        ASSERT_EQ(id.size(), 32u);
        EXPECT_EQ(id.substr(0, c.timestamp.size()), c.timestamp);
        EXPECT_TRUE(AllFromAlphabet(id.substr(c.timestamp.size())));
    }
}

TEST(MakeInstallIdAtTest, IsCutTo32CharactersWhenTheTimestampIsLonger) {
    std::mt19937_64 random(1);
    const UtcTime huge{0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
                       0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
    EXPECT_EQ(MakeInstallIdAt(huge, random), L"7FFFFFFF7FFFFFFF7FFFFFFF7FFFFFFF");
}

TEST(MakeInstallIdAtTest, RandomPartUsesTheWholeAlphabetEvenly) {
    std::mt19937_64 random(7);
    std::map<wchar_t, int> counts;
    constexpr int kIds = 4000; // 16 random characters each: about 1032 draws per character
    for (int i = 0; i < kIds; ++i) {
        const std::wstring id = MakeInstallIdAt({2025, 1, 15, 2, 1, 26, 123}, random);
        ASSERT_TRUE(AllFromAlphabet(id));
        for (const wchar_t c : id.substr(16))
            ++counts[c];
    }
    for (const wchar_t c : kAlphabet) {
        SCOPED_TRACE(static_cast<char>(c));
        EXPECT_GT(counts[c], 850);
        EXPECT_LT(counts[c], 1220);
    }
}

TEST(MakeInstallIdTest, IdentifiersMadeAtOnceDiffer) {
    const std::wstring first = MakeInstallId();
    const std::wstring second = MakeInstallId();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_TRUE(AllFromAlphabet(first));
    EXPECT_NE(first.substr(16), second.substr(16));
}

TEST(CurrentUtcTimeTest, AgreesWithTheCLibrarysUtcClock) {
    const std::time_t before = std::time(nullptr);
    const UtcTime now = CurrentUtcTime();
    const std::time_t after = std::time(nullptr);

    std::tm fields{};
    fields.tm_year = now.year - 1900;
    fields.tm_mon = now.month - 1;
    fields.tm_mday = now.day;
    fields.tm_hour = now.hour;
    fields.tm_min = now.minute;
    fields.tm_sec = now.second;
#ifdef _WIN32
    const std::time_t seconds = ::_mkgmtime(&fields);
#else
    const std::time_t seconds = ::timegm(&fields);
#endif
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
}

} // namespace
} // namespace tarvik::settings
