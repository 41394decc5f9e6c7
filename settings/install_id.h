#pragma once

#include <random>
#include <string>

namespace tarvik::settings {

struct UtcTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

UtcTime CurrentUtcTime();

// The installation identifier: exactly 32 characters, an upper-case hexadecimal timestamp (year
// unpadded; month, day, hour, minute, second two digits; milliseconds three) followed by random
// characters from 0-9, A-Z, a-z, drawn uniformly.
std::wstring MakeInstallIdAt(const UtcTime& now, std::mt19937_64& random);

// The same for the current time, with a generator seeded from the system's entropy source.
std::wstring MakeInstallId();

} // namespace tarvik::settings
