#pragma once

#include "app/host_options.h"
#include "common/download_state.h"
#include "common/host_message.h"
#include "common/translation.h"
#include "platform/platform.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tarvik {

// The codes the dialog ends with, as a dialog's OK and Cancel buttons end it.
inline constexpr int kEndedByPage = 1;         // the page's "close" command
inline constexpr int kEndedByCloseRequest = 2; // a close request from the desktop

namespace download {
class TransferJob;
}

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

    // The message table.
    void OnHostMessage(const HostMessage& message) override;

    // Start-up.
    void CreateWebView();
    void OnInitDialog();
    void LoadConfig();
    void FetchProductInfo();

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
    // WM_SIZE's kind last seen: the window's state as the page was last told it.
    uint64_t m_sizeKind = platform::kSizeRestored;
    bool m_dragging = false;
    platform::Point m_lastCursor;
    // The installer transfer; it replaces the bare transfer handle and thread object so that
    // the host can stop and join it before the host goes away.
    std::unique_ptr<download::TransferJob> m_transfer;
    DownloadState m_downloadState = DownloadState::Idle;
    // A download start has been posted but its start message is not handled yet (or its save
    // dialog is still open); further "dnld" requests are ignored meanwhile.
    bool m_downloadStarting = false;
    bool m_windowCreated = false;
};

} // namespace tarvik
