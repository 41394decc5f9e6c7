#pragma once

#include <cstdint>

namespace tarvik {

// Where the installer download stands. The numbers are part of the page protocol: the finished
// and failed notices carry the state's value as their "status".
enum class DownloadState : int32_t {
    Idle = 0,     // nothing started, the save dialog was cancelled, or the last transfer failed
    Running = 1,  // the start message was handled
    Finished = 2, // a transfer completed
};

} // namespace tarvik
