#pragma once

namespace tarvik {

// The event codes the host reports by itself; the page supplies every other code.
inline constexpr char kEventLinkOpened[] = "4";  // "open_url" handed a link to the desktop
inline constexpr char kEventWindowSized[] = "5"; // "resize_window" sized the window

} // namespace tarvik
