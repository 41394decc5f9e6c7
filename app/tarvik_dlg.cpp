#include "app/tarvik_dlg.h"

#include "common/curl/request_route.h"
#include "service/event_sender.h"
#include "service/info_request_job.h"

namespace tarvik {

CTarvikDlg::CTarvikDlg(const platform::Platform& platform, HostOptions options)
    : m_window(platform.window), m_webView(platform.webView), m_builtInPage(platform.builtInPage),
      m_desktop(platform.desktop), m_system(platform.system), m_options(std::move(options)),
      m_texts(m_desktop.PreferredLanguages()),
      m_events(std::make_unique<service::EventSender>(
          m_options.logEndpoint, m_options.serviceLimits, m_options.eventQueueLimit,
          ProxyLookupOf(m_system))),
      m_download(
          m_system, m_desktop, m_texts, m_options.transferLimits,
          [&window = m_window](const HostMessage& message) { window.Post(message); },
          [this](const download::SessionEvent& event) { OnDownloadEvent(event); }) {
    // Before any request: the event sender's thread makes none until a report is queued.
    const platform::SystemName name = m_system.Name();
    SetUserAgentSystem(name.os, name.machine);
}

CTarvikDlg::~CTarvikDlg() {
    StopTransferAndDestroyWindow();
}

int CTarvikDlg::DoModal() {
    m_windowCreated = true;
    m_window.Create(*this); // delivers WM_CREATE before it returns
    OnInitDialog();
    const int result = m_window.RunModalLoop();
    EndRun();
    return result;
}

size_t CTarvikDlg::EndRun() {
    StopTransferAndDestroyWindow();
    // The window is gone; the reports of the last moments still get a short time to go out, so
    // that the events just before a close are not lost, but never longer than that.
    return m_events->Finish(m_options.eventDrainLimit);
}

void CTarvikDlg::StopTransferAndDestroyWindow() {
    // The transfer stops first, which also removes its unfinished file, and a part kept for the
    // page's retry has no use once the program ends. Only then does the window go.
    m_download.End();
    // The info worker posts to the window, so it goes before the window does.
    m_infoJob.reset();
    if (m_windowCreated)
        m_window.Destroy();
    m_windowCreated = false;
}

void CTarvikDlg::OnInitDialog() {
    // Off-screen until the page asks for its size; the window exists and has a taskbar entry.
    m_window.MoveTo({-10000, 0});
    m_window.SetIcon();
    LoadConfig();
    m_builtInPage.SetCommandHandler(
        [this](const std::string& command) { OnBuiltInCommand(command); });
    FetchProductInfo();
    m_window.StartTimer(kConnectingTimer, m_options.connectingDelay);
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
    case WM_DL_PROGRESS:
    case WM_DNLD_FINISHED:
    case WM_DNLD_FAILED:
        m_download.OnHostMessage(message);
        break;
    case WM_INFO_ANSWER:
        OnInfoAnswer(message);
        break;
    case WM_TIMER:
        OnTimer(message.wParam);
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
