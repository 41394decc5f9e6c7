#pragma once

namespace tarvik {

// The event codes the host reports by itself; the page supplies every other code.
inline constexpr char kEventLinkOpened[] = "4";  // "open_url" handed a link to the desktop
inline constexpr char kEventWindowSized[] = "5"; // "resize_window" sized the window
// The start failed and the program's own page said so (the service or the page was unreachable).
inline constexpr char kEventStartFailed[] = "6";

} // namespace tarvik
