#include "app/tarvik_dlg.h"

#include "download/transfer_job.h"

namespace tarvik {

CTarvikDlg::CTarvikDlg(platform::HostPlatform& platform, platform::System& system,
                       HostOptions options)
    : m_platform(platform), m_system(system), m_options(std::move(options)) {}

CTarvikDlg::~CTarvikDlg() {
    StopTransferAndDestroyWindow();
}

int CTarvikDlg::DoModal() {
    m_windowCreated = true;
    m_platform.CreateHostWindow(*this); // delivers WM_CREATE before it returns
    OnInitDialog();
    const int result = m_platform.RunModalLoop();
    StopTransferAndDestroyWindow();
    return result;
}

void CTarvikDlg::StopTransferAndDestroyWindow() {
    // The worker must never outlive the host: stop and join it first, which also removes its
    // unfinished file. Only then does the window go.
    m_transfer.reset();
    if (m_windowCreated)
        m_platform.DestroyHostWindow();
    m_windowCreated = false;
}

bool CTarvikDlg::OnInitDialog() {
    // Off-screen until the page asks for its size; the window exists and has a taskbar entry.
    m_platform.MoveWindowTo({-10000, 0});
    m_platform.SetWindowIcon();
    LoadConfig();
    FetchProductInfo();
    return true;
}

void CTarvikDlg::OnHostMessage(const HostMessage& message) {
    switch (message.id) {
    case WM_CREATE:
        OnCreate();
        break;
    case WM_SIZE:
        OnSize();
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
        OnDownloadStart();
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
    EndDialog(2);
}

void CTarvikDlg::EndDialog(int result) {
    m_platform.EndDialog(result);
}

void CTarvikDlg::PostToSelf(uint32_t id, uint64_t wParam, int64_t lParam) {
    m_platform.PostHostMessage({id, wParam, lParam});
}

} // namespace tarvik
