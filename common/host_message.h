#pragma once

#include <cstdint>

#ifdef _WIN32
// On Windows the system's own headers (pulled in by the transfer library, among others) define
// the window messages as macros, so the names below are the real ones there and only the host's
// own messages are added; their values are checked against ours below.
#include <windows.h>
#endif

namespace tarvik {

// One entry of the host window's message queue. The numbering follows the desktop convention the
// page protocol was designed around, so the same ids can be used by a port to any window system.
struct HostMessage {
    uint32_t id = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
};

// System messages that the window layer delivers to the host.
#ifdef _WIN32
static_assert(WM_CREATE == 0x0001 && WM_SIZE == 0x0005 && WM_CLOSE == 0x0010 &&
              WM_MOUSEMOVE == 0x0200 && WM_LBUTTONDOWN == 0x0201 && WM_LBUTTONUP == 0x0202 &&
              WM_USER == 0x0400);
#else
inline constexpr uint32_t WM_CREATE = 0x0001;
inline constexpr uint32_t WM_SIZE = 0x0005;
inline constexpr uint32_t WM_CLOSE = 0x0010;
// wParam: the id the timer was started with.
inline constexpr uint32_t WM_TIMER = 0x0113;
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;

// The base of the host's own messages.
inline constexpr uint32_t WM_USER = 0x0400;
#endif

// The host's own messages.
// wParam: 0 when a download has just started, kRepeatedNotice when the page asked again while it
// runs.
inline constexpr uint32_t WM_DNLD_START = WM_USER + 1;
// wParam: bytes received; lParam: total bytes (always greater than 0).
inline constexpr uint32_t WM_DL_PROGRESS = WM_USER + 2;
inline constexpr uint32_t WM_DNLD_FINISHED = WM_USER + 3;
// wParam: a DownloadFailure value.
inline constexpr uint32_t WM_DNLD_FAILED = WM_USER + 4;
// The product info request has its answer; wParam: which request (the host counts them, so that
// the answer of a request that was replaced is ignored).
inline constexpr uint32_t WM_INFO_ANSWER = WM_USER + 5;
// The transfer lost its connection and tries again; wParam: the reconnection's number in this
// download, 1 for the first.
inline constexpr uint32_t WM_DL_RETRY = WM_USER + 16;

// WM_CLOSE's wParam when the run must end at once, whatever the page would ask: a stop signal or
// the end of the desktop session. A close request from the desktop (its close button, Alt+F4,
// the taskbar) carries 0.
inline constexpr uint64_t kCloseAtOnce = 1;

// WM_DNLD_START's wParam when the message only repeats the start notice. Such a message never
// changes the download state: the transfer may have ended between the page's request and the
// message being handled, and a state set back to Running then would stand for no transfer at all.
inline constexpr uint64_t kRepeatedNotice = 1;

// Packs two client coordinates the way mouse messages carry them: x in the low word, y in the
// high word, each cut to 16 bits.
constexpr int64_t MakePointParam(int32_t x, int32_t y) {
    return static_cast<int64_t>((static_cast<uint32_t>(x) & 0xFFFFu) |
                                ((static_cast<uint32_t>(y) & 0xFFFFu) << 16));
}

// Reads the coordinates back, each as a signed 16-bit number.
constexpr int32_t PointParamX(int64_t lParam) {
    return static_cast<int16_t>(static_cast<uint16_t>(lParam & 0xFFFF));
}
constexpr int32_t PointParamY(int64_t lParam) {
    return static_cast<int16_t>(static_cast<uint16_t>((lParam >> 16) & 0xFFFF));
}

} // namespace tarvik
