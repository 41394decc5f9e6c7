#include "platform/headless/headless_web_view.h"

namespace tarvik::platform::headless {

void HeadlessWebView::CompleteCreation() {
    if (onReady_) {
        auto ready = std::move(onReady_);
        onReady_ = nullptr;
        ready();
    }
}

void HeadlessWebView::DeliverPageMessage(const std::string& text) {
    if (onMessage_)
        onMessage_(text);
}

void HeadlessWebView::LeavePage(const std::string& url) {
    if (onLeave_)
        onLeave_(url);
}

void HeadlessWebView::FailLoad() {
    if (onFailed_)
        onFailed_();
}

void HeadlessWebView::SetLoadFailureHandler(std::function<void()> onFailed) {
    onFailed_ = std::move(onFailed);
}

void HeadlessWebView::Close() {
    onFailed_ = nullptr;
    onReady_ = nullptr;
    onMessage_ = nullptr;
    onLeave_ = nullptr;
}

void HeadlessWebView::SetExternalNavigationHandler(
    std::function<void(const std::string& url)> onLeave) {
    onLeave_ = std::move(onLeave);
}

void HeadlessWebView::Create(std::function<void()> onReady) {
    created = true;
    onReady_ = std::move(onReady);
}

void HeadlessWebView::FitToWindow() {
    ++fits;
}

void HeadlessWebView::Navigate(const std::string& url) {
    navigations.push_back(url);
}

void HeadlessWebView::SetMessageHandler(std::function<void(const std::string& text)> onMessage) {
    onMessage_ = std::move(onMessage);
}

void HeadlessWebView::PostJson(const std::string& json) {
    notices.push_back(json);
}

} // namespace tarvik::platform::headless
