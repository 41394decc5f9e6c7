#pragma once

#include "app/host_options.h"
#include "bridge/built_in_page_texts.h"
#include "bridge/page_commands.h"
#include "common/download_state.h"
#include "common/host_message.h"
#include "common/translation.h"
#include "download/download_session.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace tarvik {

// The codes the dialog ends with, as a dialog's OK and Cancel buttons end it.
inline constexpr int kEndedByPage = 1;         // the page's "close" command
inline constexpr int kEndedByCloseRequest = 2; // a close request from the desktop

// Asks `system` for the desktop's proxy of a request (see System::ProxyFor).
std::function<std::optional<std::string>(const std::string&, std::stop_token)>
ProxyLookupOf(platform::System& system);

namespace service {
class EventSender;
class InfoRequestJob;
} // namespace service

// The host's timers (WM_TIMER's wParam).
inline constexpr uint32_t kConnectingTimer = 1; // the vendor's page is slow to appear
inline constexpr uint32_t kPageTimer = 2;       // the vendor's page has not sized the window
inline constexpr uint32_t kRetryTimer =
    3; // "Connecting…" after "Try again" has been seen long enough

// What the built-in page shows, when it is shown.
enum class StartState {
    Connecting,         // still waiting for the service or the page
    ServiceUnreachable, // the product info request failed
    PageFailed,         // the page did not load or did not size the window in time
};

// The host window. It holds the program's run together and lives for the whole run: it reads each
// page message into a command and hands it to the part that owns it (the window, the download
// session, the event sender), and turns what those report into notices for the page. It runs on
// the user-interface thread; the only way in from another thread is a message posted through the
// platform's queue. The one thread it owns, the writer of a new identifier, touches only the
// System (safe from any thread) and its own copies.
class CTarvikDlg : public platform::WindowEvents {
public:
    explicit CTarvikDlg(const platform::Platform& platform, HostOptions options = {});
    // Stops and joins a transfer that is still running before anything else goes away.
    ~CTarvikDlg() override;
    CTarvikDlg(const CTarvikDlg&) = delete;
    CTarvikDlg& operator=(const CTarvikDlg&) = delete;

    // Creates the window, initialises the host and runs the message loop until the dialog ends.
    int DoModal();
    // What follows the loop: the transfer stops, the window goes, and the event reports still
    // queued get their short deadline. Returns how many of them were left unsent.
    size_t EndRun();

    // The message table.
    void OnHostMessage(const HostMessage& message) override;

    // Start-up.
    void CreateWebView();
    void OnInitDialog();
    void LoadConfig();
    // Starts the product info request on a worker thread; its answer comes as WM_INFO_ANSWER.
    // A request still under way is abandoned.
    void FetchProductInfo();
    // Navigates to the vendor's page once both the web view and the service's answer are there.
    void NavigateWhenReady();
    // The built-in page: shown in `state`, brought on screen at its own size when the vendor's
    // page has not sized the window; and its two commands.
    void ShowBuiltInPage(StartState state);
    void OnBuiltInCommand(const std::string& command);

    // Page bridge: each message is read into a command, then carried out.
    void OnWebMessage(const std::string& utf8Text);
    void PostNoticeToPage(const std::string& json);

    // The page's commands.
    void operator()(const bridge::OpenUrl& command);
    void operator()(const bridge::Install& command);
    void operator()(const bridge::RevealDownload& command);
    void operator()(const bridge::Download& command);
    void operator()(const bridge::AskDownloadState& command);
    void operator()(const bridge::CancelDownload& command);
    void operator()(const bridge::ReportPageEvent& command);
    void operator()(const bridge::Close& command);
    void operator()(const bridge::ShowWindow& command);
    void operator()(const bridge::ResizeWindow& command);
    void operator()(const bridge::Mouse& command);

    void ResizeWindow(int32_t width, int32_t height, const std::optional<std::string>& title);
    void ReportEvent(const std::string& code);
    void EndDialog(int result);

    // Read access for tests and the start-up code.
    DownloadState downloadState() const { return download_.state(); }
    bool dragging() const { return dragging_; }
    const std::string& pageUrl() const { return pageUrl_; }
    const std::string& infoUrl() const { return infoUrl_; }
    // The file the download is saved to (UTF-8); empty when it stands for no file of this run.
    const std::string& filePath() const { return download_.filePath(); }
    const std::string& uuid() const { return uuid_; }
    uint32_t downloaderId() const { return downloaderId_; }
    // Whether the answer of the latest product info request has been handled.
    bool infoAnswered() const { return infoAnswered_; }
    // No event report is waiting or under way.
    bool eventsIdle() const;

private:
    // Message handlers.
    void OnCreate();
    void OnSize(const HostMessage& message);
    // A close request: from the desktop, or (`atOnce`) a stop signal or the session's end.
    void OnClose(bool atOnce);
    void OnLButtonDown(int64_t pointParam);
    void OnMouseMove(int64_t pointParam);
    void OnLButtonUp(int64_t pointParam);
    // What the download session reports, told to the page and, when the user looks elsewhere,
    // to the desktop.
    void OnDownloadEvent(const download::SessionEvent& event);

    void OnWebViewReady();
    void OnInfoAnswer(const HostMessage& message);
    void OnTimer(uint64_t id);
    void OnPageLoadFailed(const platform::LoadFailure& failure);
    // Sets the window's title (and so its accessible name).
    void SetWindowTitle(const std::string& title);
    // A link that would take the window away from the host's page opens in the default browser,
    // under the same rule as "open_url", but reports no event: the page did not ask for it.
    void OpenOutsideThePage(const std::string& url);
    void StopTransferAndDestroyWindow();
    // Tells the user of a download's outcome through the desktop when they are looking elsewhere.
    void NotifyIfAway(const std::string& body);
    void PostToSelf(uint32_t id, uint64_t wParam = 0, int64_t lParam = 0);
    platform::Point ScreenPointFromParam(int64_t pointParam);

    platform::Window& window_;
    platform::WebView& webView_;
    platform::BuiltInPage& builtInPage_;
    platform::Desktop& desktop_;
    // Serves the settings and the transfer worker, so it must be safe from any thread (every
    // System is).
    platform::System& system_;
    HostOptions options_;
    // The host's own texts (message boxes, dialog filters, notifications) in the user's language.
    const Catalogue texts_;

    // UTF-8, like every text inside the host.
    std::string infoUrl_;
    std::string pageUrl_;
    std::string uuid_;
    // The product's name from the service, for the desktop notifications; empty when unknown.
    std::string productName_;
    uint32_t defaultWidth_ = 0;
    uint32_t defaultHeight_ = 0;
    uint32_t downloaderId_ = 0;
    bool webViewReady_ = false;
    // The product info request under way or answered; its answers carry infoRequests_ as their
    // number, so that one from a request that was replaced by "Try again" is ignored.
    std::unique_ptr<service::InfoRequestJob> infoJob_;
    uint64_t infoRequests_ = 0;
    bool infoAnswered_ = false;
    bool infoUsable_ = false;
    // The host's navigation to the vendor's page has been started (and not failed yet).
    bool navigated_ = false;
    // The vendor's page has sized the window since the host navigated to it.
    bool pageSized_ = false;
    // The built-in page has sized and centred the window itself.
    bool builtInPlaced_ = false;
    std::optional<StartState> startState_;
    // Why the start failed last, for the built-in page's texts.
    std::optional<bridge::StartProblem> problem_;
    // When "Try again" was pressed, while its "Connecting…" has not been replaced yet; and a
    // failure waiting until that has been seen long enough.
    std::optional<std::chrono::steady_clock::time_point> retriedAt_;
    std::optional<StartState> pendingState_;
    // The window has been given a title.
    bool titled_ = false;
    // Event reports go out from here, in order, never from the user-interface thread.
    std::unique_ptr<service::EventSender> events_;
    // WM_SIZE's kind last seen: the window's state as the page was last told it.
    uint64_t sizeKind_ = platform::kSizeRestored;
    bool dragging_ = false;
    platform::Point lastCursor_;
    // The installer download: its state, its transfer and its rules.
    download::DownloadSession download_;
    bool windowCreated_ = false;
    // Stores an identifier made for this run in the configuration, with its sync to disk, off
    // the user-interface thread; joined when the run ends (the last member, so it goes first).
    std::jthread installIdWriter_;
};

} // namespace tarvik
