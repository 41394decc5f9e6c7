#include "app/tarvik_dlg.h"

#include "download/transfer_job.h"

namespace tarvik {

CTarvikDlg::CTarvikDlg(const platform::Platform& platform, HostOptions options)
    : m_window(platform.window), m_webView(platform.webView), m_desktop(platform.desktop),
      m_system(platform.system), m_options(std::move(options)),
      m_texts(m_desktop.PreferredLanguages()) {}

CTarvikDlg::~CTarvikDlg() {
    StopTransferAndDestroyWindow();
}

int CTarvikDlg::DoModal() {
    m_windowCreated = true;
    m_window.Create(*this); // delivers WM_CREATE before it returns
    OnInitDialog();
    const int result = m_window.RunModalLoop();
    StopTransferAndDestroyWindow();
    return result;
}

void CTarvikDlg::StopTransferAndDestroyWindow() {
    // The worker must never outlive the host: stop and join it first, which also removes its
    // unfinished file. Only then does the window go.
    m_transfer.reset();
    if (m_windowCreated)
        m_window.Destroy();
    m_windowCreated = false;
}

void CTarvikDlg::OnInitDialog() {
    // Off-screen until the page asks for its size; the window exists and has a taskbar entry.
    m_window.MoveTo({-10000, 0});
    m_window.SetIcon();
    LoadConfig();
    FetchProductInfo();
}

void CTarvikDlg::OnHostMessage(const HostMessage& message) {
    switch (message.id) {
    case WM_CREATE:
        OnCreate();
        break;
    case WM_SIZE:
        OnSize(message);
        break;
    case WM_CLOSE:
        OnClose();
        break;
    case WM_LBUTTONDOWN:
        OnLButtonDown(message.lParam);
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(message.lParam);
        break;
    case WM_LBUTTONUP:
        OnLButtonUp(message.lParam);
        break;
    case WM_DNLD_START:
        OnDownloadStart(message);
        break;
    case WM_DL_PROGRESS:
        OnDownloadProgress(message);
        break;
    case WM_DNLD_FINISHED:
        OnDownloadFinished();
        break;
    case WM_DNLD_FAILED:
        OnDownloadFailed(message);
        break;
    default:
        break;
    }
}

void CTarvikDlg::OnCreate() {
    CreateWebView();
}

void CTarvikDlg::OnClose() {
    // A close request from the desktop ends the dialog whatever the download state, like the
    // dialog's cancel.
    EndDialog(kEndedByCloseRequest);
}

void CTarvikDlg::EndDialog(int result) {
    m_window.EndDialog(result);
}

void CTarvikDlg::PostToSelf(uint32_t id, uint64_t wParam, int64_t lParam) {
    m_window.Post({id, wParam, lParam});
}

} // namespace tarvik
