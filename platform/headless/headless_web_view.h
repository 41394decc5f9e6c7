#pragma once

#include "platform/web_view.h"

#include <functional>
#include <string>
#include <vector>

namespace tarvik::platform::headless {

// The web view without a browser: it records navigations and the JSON sent to the page, and lets
// a test complete the view's creation and deliver page messages as the real one would. With
// TARVIK_NOTICE_DUMP naming a file, each JSON text sent to the page is also appended to it as a
// line, so that a whole run's notices can be checked against the protocol's schema.
//
// Threads: the test's thread only.
class HeadlessWebView final : public WebView {
public:
    // --- What the host asked for ---------------------------------------------------------------
    bool created = false;
    int fits = 0;
    std::vector<std::string> navigations;
    std::vector<std::string> notices; // JSON texts sent to the page, in order

    // --- Test controls -------------------------------------------------------------------------
    // Completes the view's creation, as the runtime would from the message loop.
    void CompleteCreation();
    // Delivers a page message to the host's handler, as an accepted message from the page.
    void DeliverPageMessage(const std::string& text);
    // A navigation away from the host's page or a new-window request, as the real view reports
    // one to the host instead of carrying it out.
    void LeavePage(const std::string& url);
    // The main document of the host's navigation failed to load, as the real view reports it.
    void FailLoad(const LoadFailure& failure = {});
    // Drops the host's callbacks, as the real view does when its window is destroyed.
    void Close();

    // --- WebView -------------------------------------------------------------------------------
    void Create(std::function<void()> onReady) override;
    void FitToWindow() override;
    void Navigate(const std::string& url) override;
    void SetMessageHandler(std::function<void(const std::string& text)> onMessage) override;
    void PostJson(const std::string& json) override;
    void SetExternalNavigationHandler(std::function<void(const std::string& url)> onLeave) override;
    void SetLoadFailureHandler(std::function<void(const LoadFailure&)> onFailed) override;

private:
    std::function<void(const LoadFailure&)> onFailed_;
    std::function<void()> onReady_;
    std::function<void(const std::string&)> onMessage_;
    std::function<void(const std::string&)> onLeave_;
};

} // namespace tarvik::platform::headless
