#pragma once

#include "platform/built_in_page.h"

#include <functional>
#include <string>
#include <vector>

namespace tarvik::platform::headless {

// The built-in page without a browser: it records what it was shown with and lets a test press
// its buttons, that is, send a message through the page's own channel.
//
// Threads: the test's thread only.
class HeadlessBuiltInPage final : public BuiltInPage {
public:
    // --- What the host asked for ---------------------------------------------------------------
    bool shown = false;
    // The JSON texts the page was shown with, in order.
    std::vector<std::string> shownWith;

    // --- Test controls -------------------------------------------------------------------------
    // A message from the built-in page's channel, as its script sends it; like the real page, only
    // "retry" and "close" reach the host.
    void SendCommand(const std::string& command);
    // Drops the host's callback, as the real page does when its window is destroyed.
    void Close();

    // --- BuiltInPage ---------------------------------------------------------------------------
    void Show(const std::string& json) override;
    void Hide() override;
    bool IsShown() const override { return shown; }
    void SetCommandHandler(std::function<void(const std::string& command)> onCommand) override;

private:
    std::function<void(const std::string&)> onCommand_;
};

} // namespace tarvik::platform::headless
