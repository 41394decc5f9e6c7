#include "platform/headless/headless_built_in_page.h"

namespace tarvik::platform::headless {

void HeadlessBuiltInPage::SendCommand(const std::string& command) {
    if (onCommand_ && (command == "retry" || command == "close"))
        onCommand_(command);
}

void HeadlessBuiltInPage::Close() {
    onCommand_ = nullptr;
    shown = false;
}

void HeadlessBuiltInPage::Show(const std::string& json) {
    shown = true;
    shownWith.push_back(json);
}

void HeadlessBuiltInPage::Hide() {
    shown = false;
}

void HeadlessBuiltInPage::SetCommandHandler(
    std::function<void(const std::string& command)> onCommand) {
    onCommand_ = std::move(onCommand);
}

} // namespace tarvik::platform::headless
