#include "platform/headless/headless_web_view.h"

#include <cstdlib>
#include <fstream>

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

void HeadlessWebView::FailLoad(const LoadFailure& failure) {
    if (onFailed_)
        onFailed_(failure);
}

void HeadlessWebView::SetLoadFailureHandler(std::function<void(const LoadFailure&)> onFailed) {
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
    // The page tests check every notice the host tests produce against the protocol's schema;
    // they run the host tests with this set. One line per notice, appended whole, so that
    // test processes running side by side can share the file.
    if (const char* dump = std::getenv("TARVIK_NOTICE_DUMP"); dump && *dump)
        std::ofstream(dump, std::ios::app) << json + '\n' << std::flush;
}

} // namespace tarvik::platform::headless
