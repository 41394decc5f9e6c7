#include "app/tarvik_dlg.h"

namespace tarvik {

void CTarvikDlg::CreateWebView() {
    m_platform.CreateWebView([this] { OnWebViewReady(); });
}

// Runs from the message loop, after the start-up has read the configuration and asked the
// service, so the page URL is known by now.
void CTarvikDlg::OnWebViewReady() {
    m_webViewReady = true;
    m_platform.FitWebViewToWindow();
    m_platform.Navigate(m_pageUrl);
    m_platform.SetPageMessageHandler([this](const std::wstring& text) { OnWebMessage(text); });
}

void CTarvikDlg::OnSize() {
    if (m_webViewReady)
        m_platform.FitWebViewToWindow();
}

} // namespace tarvik
