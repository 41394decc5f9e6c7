#include "app/tarvik_dlg.h"

#include "bridge/notices.h"
#include "common/curl/request_route.h"
#include "service/event_sender.h"
#include "service/info_request_job.h"

namespace tarvik {

CTarvikDlg::CTarvikDlg(const platform::Platform& platform, HostOptions options)
    : window_(platform.window), webView_(platform.webView), builtInPage_(platform.builtInPage),
      desktop_(platform.desktop), system_(platform.system), options_(std::move(options)),
      texts_(desktop_.PreferredLanguages()),
      events_(std::make_unique<service::EventSender>(options_.logEndpoint, options_.serviceLimits,
                                                     options_.eventQueueLimit,
                                                     ProxyLookupOf(system_))),
      download_(
          system_, desktop_, texts_, options_.transferLimits,
          [&window = window_](const HostMessage& message) { window.Post(message); },
          [this](const download::SessionEvent& event) { OnDownloadEvent(event); }) {
    // Before any request: the event sender's thread makes none until a report is queued.
    const platform::SystemName name = system_.Name();
    SetUserAgentSystem(name.os, name.machine);
    // The key was checked when the program was built; should it still not parse, no download
    // can be verified, and none is started.
    if (!options_.installerKey.empty())
        download_.RequireSignatures(download::ParseMinisignKey(options_.installerKey));
    download_.RequirePublisher(options_.installerPublisher);
}

CTarvikDlg::~CTarvikDlg() {
    StopTransferAndDestroyWindow();
}

int CTarvikDlg::DoModal() {
    windowCreated_ = true;
    window_.Create(*this); // delivers WM_CREATE before it returns
    OnInitDialog();
    const int result = window_.RunModalLoop();
    EndRun();
    return result;
}

size_t CTarvikDlg::EndRun() {
    const auto deadline = std::chrono::steady_clock::now() + options_.eventDrainLimit;
    StopTransferAndDestroyWindow();
    // The window is gone; the reports of the last moments still get a short time to go out, so
    // that the events just before a close are not lost, but never longer than that. A transfer
    // worker stops meanwhile, within the same time (it only waits longer while inside a commit's
    // sync to disk or a proxy lookup, which cannot be interrupted; the session's destructor waits
    // then).
    const size_t unsent = events_->Finish(options_.eventDrainLimit);
    download_.WaitForWorkers(deadline);
    // A new identifier is on disk before the run ends, however slow the disk.
    if (installIdWriter_.joinable())
        installIdWriter_.join();
    return unsent;
}

void CTarvikDlg::StopTransferAndDestroyWindow() {
    // The transfer stops first; it posts nothing more and removes its unfinished file in the
    // background, and a part kept for the page's retry has no use once the program ends. So the
    // window may go.
    download_.End();
    // The info worker posts to the window, so it goes before the window does.
    infoJob_.reset();
    if (windowCreated_)
        window_.Destroy();
    windowCreated_ = false;
}

void CTarvikDlg::OnInitDialog() {
    // The window stays hidden until there is something to show: the vendor's page sizing it, or
    // the built-in page (see Present).
    window_.SetIcon();
    builtInPage_.SetCommandHandler(
        [this](const std::string& command) { OnBuiltInCommand(command); });
    window_.StartTimer(kConnectingTimer, options_.connectingDelay);
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
        OnClose(message.wParam == kCloseAtOnce);
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
    case WM_DL_RETRY:
    case WM_DNLD_FINISHED:
    case WM_DNLD_FAILED:
        download_.OnHostMessage(message);
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
    // The service is asked before the web view is made: making the view holds the
    // user-interface thread (WebKit's set-up: 0.8 to 2.8 s in the start-up bench's step log on a
    // busy machine), and the request's worker thread gets its answer meanwhile, so that the page
    // can be navigated to as soon as the view is ready.
    LoadConfig();
    FetchProductInfo();
    CreateWebView();
    // The page nearly always comes from the service's own origin: its connection is opened
    // while the info request runs, so that on a real link the page's request finds it ready.
    webView_.WarmUp(infoUrl_);
}

void CTarvikDlg::OnClose(bool atOnce) {
    // The window has no frame of its own, so the desktop's close paths are the ones users know:
    // they go the way of the page's own close button, and while a download runs the page asks
    // before it is thrown away. A stop signal or the end of the session cannot wait for anyone.
    if (!atOnce && download_.state() == DownloadState::Running) {
        PostNoticeToPage(bridge::CloseWhileDownloadingNotice());
        return;
    }
    EndDialog(kEndedByCloseRequest);
}

void CTarvikDlg::EndDialog(int result) {
    window_.EndDialog(result);
}

void CTarvikDlg::PostToSelf(uint32_t id, uint64_t wParam, int64_t lParam) {
    window_.Post({id, wParam, lParam});
}

} // namespace tarvik
