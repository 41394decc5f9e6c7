#pragma once

#include <functional>
#include <string>

namespace tarvik::platform {

// The program's own page, shown in the host window in place of the vendor's page when the start
// fails or takes long: compiled into the executable, it needs no network. It lives in a view of
// its own beside the vendor's web view, only one of the two visible at a time, and the two never
// share anything: the built-in page has its own message channel, which knows only the commands
// "retry" and "close", the vendor's page cannot reach it, and no navigation leads into or out of
// it.
//
// Threads: user-interface thread only; the command handler runs there.
class BuiltInPage {
public:
    virtual ~BuiltInPage() = default;

    // Shows the page in place of the vendor's web view, with `json` (its texts and its state, as
    // one JSON object) handed to it as data, never as script. Showing it again while it is shown
    // only hands it the new data.
    virtual void Show(const std::string& json) = 0;
    // Shows the vendor's web view again.
    virtual void Hide() = 0;
    virtual bool IsShown() const = 0;
    // `onCommand` gets "retry" or "close", the only commands the page has; anything else the page
    // might send is dropped before it.
    virtual void SetCommandHandler(std::function<void(const std::string& command)> onCommand) = 0;
};

} // namespace tarvik::platform
