#include "app/tarvik_dlg.h"

#include "common/curl/web_url.h"
#include "common/log.h"
#include "common/text_conversion.h"

#include <nlohmann/json.hpp>

namespace tarvik {

void CTarvikDlg::CreateWebView() {
    m_webView.Create([this] { OnWebViewReady(); });
}

// Runs from the message loop, after the start-up has read the configuration; the service's
// answer may come before or after it.
void CTarvikDlg::OnWebViewReady() {
    m_webViewReady = true;
    m_webView.FitToWindow();
    m_webView.SetMessageHandler([this](const std::string& text) { OnWebMessage(text); });
    m_webView.SetExternalNavigationHandler(
        [this](const std::string& url) { OpenOutsideThePage(url); });
    m_webView.SetLoadFailureHandler([this] { OnPageLoadFailed(); });
    NavigateWhenReady();
}

void CTarvikDlg::NavigateWhenReady() {
    if (!m_webViewReady || !m_infoAnswered || !m_infoUsable || m_navigated)
        return;
    m_navigated = true;
    m_pageSized = false;
    TARVIK_LOG("page: navigating to ", LoggedUrl(NarrowFromWide(m_pageUrl)));
    m_webView.Navigate(NarrowFromWide(m_pageUrl));
    m_window.StartTimer(kPageTimer, m_options.pageLimit);
}

void CTarvikDlg::OnPageLoadFailed() {
    // Only the host's own navigation counts, and only until the page has shown itself.
    if (!m_navigated || m_pageSized)
        return;
    ShowBuiltInPage(StartState::PageFailed);
}

void CTarvikDlg::OnSize(const HostMessage& message) {
    if (m_webViewReady)
        m_webView.FitToWindow();
    // The page learns the window's real state rather than guessing it from its own commands.
    if (message.wParam != m_sizeKind) {
        m_sizeKind = message.wParam;
        const char* state = m_sizeKind == platform::kSizeMinimized   ? "minimized"
                            : m_sizeKind == platform::kSizeMaximized ? "maximized"
                                                                     : "normal";
        PostJsonToPage({{"msg_type", "window"}, {"state", state}});
    }
}

} // namespace tarvik
