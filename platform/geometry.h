#pragma once

#include <cstdint>

namespace tarvik::platform {

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// Screen coordinates in device pixels; right and bottom are exclusive.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Dpi {
    uint32_t x = 96;
    uint32_t y = 96;
};

// The dialog the window stands in for measured 320 x 200 dialog units, about this many pixels at
// 96 dpi. It is the window's size until the page sets the real one.
inline constexpr int32_t kInitialWindowWidth = 480;
inline constexpr int32_t kInitialWindowHeight = 325;

} // namespace tarvik::platform
