#include "settings/install_id.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <string_view>

namespace tarvik::settings {
namespace {

constexpr std::string_view kAlphabet =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr size_t kIdLength = 32;

// Hex digits of a field, padded to `width`. Out-of-range fields are written as their unsigned
// 32-bit pattern rather than rejected: the identifier only has to be distinct, not meaningful.
void AppendHex(std::wstring& out, int value, int width) {
    std::array<char, 16> digits{};
    const int length =
        std::snprintf(digits.data(), digits.size(), "%0*X", width, static_cast<unsigned>(value));
    for (int i = 0; i < length; ++i)
        out += static_cast<wchar_t>(digits[static_cast<size_t>(i)]);
}

} // namespace

UtcTime CurrentUtcTime() {
    using namespace std::chrono;
    const auto now = time_point_cast<milliseconds>(system_clock::now());
    const auto today = floor<days>(now);
    const year_month_day date{today};
    const hh_mm_ss time{now - today};
    UtcTime utc;
    utc.year = static_cast<int>(date.year());
    utc.month = static_cast<int>(static_cast<unsigned>(date.month()));
    utc.day = static_cast<int>(static_cast<unsigned>(date.day()));
    utc.hour = static_cast<int>(time.hours().count());
    utc.minute = static_cast<int>(time.minutes().count());
    utc.second = static_cast<int>(time.seconds().count());
    utc.millisecond = static_cast<int>(time.subseconds().count());
    return utc;
}

std::wstring MakeInstallIdAt(const UtcTime& now, std::mt19937_64& random) {
    std::wstring id;
    AppendHex(id, now.year, 0);
    AppendHex(id, now.month, 2);
    AppendHex(id, now.day, 2);
    AppendHex(id, now.hour, 2);
    AppendHex(id, now.minute, 2);
    AppendHex(id, now.second, 2);
    AppendHex(id, now.millisecond, 3);

    std::uniform_int_distribution<size_t> pick(0, kAlphabet.size() - 1);
    while (id.size() < kIdLength)
        id += static_cast<wchar_t>(kAlphabet[pick(random)]);
    id.resize(kIdLength);
    return id;
}

std::wstring MakeInstallId() {
    std::random_device entropy;
    std::seed_seq seed{entropy(), entropy(), entropy(), entropy()};
    std::mt19937_64 random(seed);
    return MakeInstallIdAt(CurrentUtcTime(), random);
}

} // namespace tarvik::settings
