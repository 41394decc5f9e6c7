#include "app/tarvik_dlg.h"

#include "common/curl/web_url.h"
#include "common/log.h"
#include "common/text_conversion.h"

#include <nlohmann/json.hpp>

namespace tarvik {

void CTarvikDlg::CreateWebView() {
    m_webView.Create([this] { OnWebViewReady(); });
}

// Runs from the message loop, after the start-up has read the configuration and asked the
// service, so the page URL is known by now.
void CTarvikDlg::OnWebViewReady() {
    m_webViewReady = true;
    m_webView.FitToWindow();
    TARVIK_LOG("page: navigating to ", LoggedUrl(NarrowFromWide(m_pageUrl)));
    m_webView.Navigate(NarrowFromWide(m_pageUrl));
    m_webView.SetMessageHandler([this](const std::string& text) { OnWebMessage(text); });
    m_webView.SetExternalNavigationHandler(
        [this](const std::string& url) { OpenOutsideThePage(url); });
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
