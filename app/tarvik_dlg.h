#pragma once

#include "app/host_options.h"
#include "common/download_state.h"
#include "common/host_message.h"
#include "common/translation.h"
#include "platform/platform.h"

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace tarvik {

// The codes the dialog ends with, as a dialog's OK and Cancel buttons end it.
inline constexpr int kEndedByPage = 1;         // the page's "close" command
inline constexpr int kEndedByCloseRequest = 2; // a close request from the desktop

// Asks `system` for the desktop's proxy of a request (see System::ProxyFor).
std::function<std::optional<std::string>(const std::string&, std::stop_token)>
ProxyLookupOf(platform::System& system);

namespace download {
class TransferJob;
struct PartialDownload;
} // namespace download
namespace service {
class EventSender;
class InfoRequestJob;
} // namespace service

// The host's timers (WM_TIMER's wParam).
inline constexpr uint32_t kConnectingTimer = 1; // the vendor's page is slow to appear
inline constexpr uint32_t kPageTimer = 2;       // the vendor's page has not sized the window

// What the built-in page shows, when it is shown.
enum class StartState {
    Connecting,         // still waiting for the service or the page
    ServiceUnreachable, // the product info request failed
    PageFailed,         // the page did not load or did not size the window in time
};

// The host window. It owns all of the program's state and lives for the whole run; everything
// else is an operation of it or a routine it calls. It runs on the user-interface thread; the
// only way in from another thread is a message posted through the platform's queue.
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

    // Page bridge.
    void OnWebMessage(const std::string& utf8Text);
    void PostJsonToPage(const nlohmann::json& value);

    // Operations the page's commands invoke.
    void ResizeWindow(int32_t width, int32_t height, const std::optional<std::string>& title);
    void StartDownload(bool silent);
    void LaunchInstaller();
    // "dnld_cancel": stops a running transfer, removes its temporary file, and tells the page
    // as a failure with the reason "cancelled"; in any other state it does nothing.
    void CancelDownload();
    // Shows the download in the file manager: the file this run completed, selected; otherwise the
    // folder a download is going to, or the Downloads folder when there is no download.
    void RevealDownload();
    void ReportEvent(const std::string& code);
    void EndDialog(int result);

    // Read access for tests and the start-up code.
    DownloadState downloadState() const { return m_downloadState; }
    bool dragging() const { return m_dragging; }
    const std::wstring& pageUrl() const { return m_pageUrl; }
    const std::wstring& infoUrl() const { return m_infoUrl; }
    const std::wstring& filePath() const { return m_filePath; }
    const std::wstring& uuid() const { return m_uuid; }
    uint32_t downloaderId() const { return m_downloaderId; }
    // Whether the answer of the latest product info request has been handled.
    bool infoAnswered() const { return m_infoAnswered; }
    // No event report is waiting or under way.
    bool eventsIdle() const;

private:
    // Message handlers.
    void OnCreate();
    void OnSize(const HostMessage& message);
    void OnClose();
    void OnLButtonDown(int64_t pointParam);
    void OnMouseMove(int64_t pointParam);
    void OnLButtonUp(int64_t pointParam);
    void OnDownloadStart(const HostMessage& message);
    void OnDownloadProgress(const HostMessage& message);
    void OnDownloadFinished();
    void OnDownloadFailed(const HostMessage& message);

    void OnWebViewReady();
    void OnInfoAnswer(const HostMessage& message);
    void OnTimer(uint64_t id);
    void OnPageLoadFailed();
    // A link that would take the window away from the host's page opens in the default browser,
    // under the same rule as "open_url", but reports no event: the page did not ask for it.
    void OpenOutsideThePage(const std::string& url);
    void StopTransferAndDestroyWindow();
    void ShowLaunchFailure();
    // Tells the user of a download's outcome through the desktop when they are looking elsewhere.
    void NotifyIfAway(const std::string& body);
    void PostToSelf(uint32_t id, uint64_t wParam = 0, int64_t lParam = 0);
    platform::Point ScreenPointFromParam(int64_t pointParam);

    platform::Window& m_window;
    platform::WebView& m_webView;
    platform::BuiltInPage& m_builtInPage;
    platform::Desktop& m_desktop;
    // Serves the settings and the transfer worker, so it must be safe from any thread (every
    // System is).
    platform::System& m_system;
    HostOptions m_options;
    // The host's own texts (message boxes, dialog filters, notifications) in the user's language.
    const Catalogue m_texts;

    std::wstring m_infoUrl;
    std::wstring m_pageUrl;
    std::wstring m_filePath;
    std::wstring m_downloadUrl;
    std::wstring m_uuid;
    // Where the user last saved an installer with the save dialog; the next dialog opens there.
    std::wstring m_lastSaveFolder;
    // The product's name from the service, for the desktop notifications; empty when unknown.
    std::string m_productName;
    uint32_t m_defaultWidth = 0;
    uint32_t m_defaultHeight = 0;
    uint32_t m_downloaderId = 0;
    bool m_webViewReady = false;
    // The product info request under way or answered; its answers carry m_infoRequests as their
    // number, so that one from a request that was replaced by "Try again" is ignored.
    std::unique_ptr<service::InfoRequestJob> m_infoJob;
    uint64_t m_infoRequests = 0;
    bool m_infoAnswered = false;
    bool m_infoUsable = false;
    // The host's navigation to the vendor's page has been started (and not failed yet).
    bool m_navigated = false;
    // The vendor's page has sized the window since the host navigated to it.
    bool m_pageSized = false;
    // The built-in page has sized and centred the window itself.
    bool m_builtInPlaced = false;
    std::optional<StartState> m_startState;
    // Event reports go out from here, in order, never from the user-interface thread.
    std::unique_ptr<service::EventSender> m_events;
    // WM_SIZE's kind last seen: the window's state as the page was last told it.
    uint64_t m_sizeKind = platform::kSizeRestored;
    bool m_dragging = false;
    platform::Point m_lastCursor;
    // The installer transfer; it replaces the bare transfer handle and thread object so that
    // the host can stop and join it before the host goes away.
    std::unique_ptr<download::TransferJob> m_transfer;
    // What the last transfer left after a network failure, so that the page's own retry of the
    // same URL continues it; deleted (with its temporary file) when a download of anything else
    // starts, and when the program ends.
    std::unique_ptr<download::PartialDownload> m_partialDownload;
    // The SHA-256 the page gave with "dnld", if it gave one.
    std::optional<std::array<uint8_t, 32>> m_expectedSha256;
    DownloadState m_downloadState = DownloadState::Idle;
    // A download start has been posted but its start message is not handled yet (or its save
    // dialog is still open); further "dnld" requests are ignored meanwhile.
    bool m_downloadStarting = false;
    bool m_windowCreated = false;
};

} // namespace tarvik
