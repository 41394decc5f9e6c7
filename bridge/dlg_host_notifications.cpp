#include "app/tarvik_dlg.h"

#include "common/download_failure.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "download/transfer_job.h"

#include <nlohmann/json.hpp>

namespace tarvik {

using nlohmann::json;

// Notices are compact JSON with their members in name order (the library's default), which is
// what pages compare against.
void CTarvikDlg::PostJsonToPage(const json& value) {
    // Before the web view exists there is no page to tell.
    if (!m_webViewReady)
        return;
    TARVIK_LOG("notice: ", value.dump());
    m_webView.PostJson(value.dump());
}

void CTarvikDlg::OnDownloadStart(const HostMessage& message) {
    const json notice = {{"msg_type", "dnld"}, {"status", 1}, {"status_text", "dnld_start"}};
    if (message.wParam == kRepeatedNotice) {
        // The page asked again while the download ran. When the worker's last message was
        // queued before this one, the transfer has ended and the page has that notice already:
        // there is no start to repeat, and the state stays where the transfer left it.
        if (m_downloadState == DownloadState::Running)
            PostJsonToPage(notice);
        return;
    }
    m_downloadStarting = false;
    m_downloadState = DownloadState::Running;
    PostJsonToPage(notice);
}

void CTarvikDlg::OnDownloadProgress(const HostMessage& message) {
    // The worker keeps at most one progress message waiting; the latest figures are taken when
    // it is handled, so the page never sees stale or falling numbers.
    // Figures still queued from a transfer that was cancelled belong to no download.
    if (m_downloadState != DownloadState::Running)
        return;
    download::ProgressFigures figures{message.wParam, message.lParam};
    if (m_transfer)
        figures = m_transfer->TakeProgress();
    if (figures.total <= 0)
        return;
    const double percent =
        static_cast<double>(figures.received) / static_cast<double>(figures.total) * 100.0;
    PostJsonToPage({{"dl_now", figures.received},
                    {"dl_progress", percent},
                    {"dl_total", figures.total},
                    {"msg_type", "dl_progress"},
                    {"status", true}});
}

void CTarvikDlg::OnDownloadFinished() {
    m_downloadState = DownloadState::Finished;
    // A silent download may have been numbered to keep an existing file.
    if (m_transfer) {
        const std::string saved = m_transfer->SavedPath();
        if (!saved.empty())
            m_filePath = WideFromNarrow(saved);
    }
    TARVIK_LOG("download: finished: ", NarrowFromWide(m_filePath));
    m_transfer.reset();
    PostJsonToPage({{"msg_type", "dnld"},
                    {"status", static_cast<uint32_t>(m_downloadState)},
                    {"status_text", "dnld_finished"}});
    NotifyIfAway(m_texts.Translate("The download has finished."));
}

void CTarvikDlg::NotifyIfAway(const std::string& body) {
    if (m_window.IsActive())
        return;
    TARVIK_LOG("desktop notification: ", body);
    m_desktop.Notify(m_productName.empty() ? std::string("Tarvik") : m_productName, body);
}

void CTarvikDlg::CancelDownload() {
    // Only a transfer that is still under way can be cancelled; one past its point of no return
    // ends as its outcome, already on its way, says.
    if (m_downloadState != DownloadState::Running || !m_transfer || !m_transfer->Cancel())
        return;
    // The worker posts nothing more and removes its temporary file in the background.
    m_transfer.reset();
    OnDownloadFailed({WM_DNLD_FAILED, static_cast<uint64_t>(DownloadFailure::Cancelled), 0});
}

void CTarvikDlg::OnDownloadFailed(const HostMessage& message) {
    // A failed transfer returns to Idle so that the page can offer to try again.
    m_downloadState = DownloadState::Idle;
    m_downloadStarting = false;
    if (m_transfer) {
        if (auto partial = m_transfer->TakePartial())
            m_partialDownload = std::make_unique<download::PartialDownload>(std::move(*partial));
    }
    m_transfer.reset();
    // The name stands for no file of this run any more: whatever is there under it is older, and
    // must be neither launched nor shown as the download.
    m_filePath.clear();
    const auto failure = static_cast<DownloadFailure>(message.wParam);
    TARVIK_LOG("download: failed, reason ", ReasonText(failure));
    PostJsonToPage({{"msg_type", "dnld"},
                    {"reason", std::string(ReasonText(failure))},
                    {"status", static_cast<uint32_t>(m_downloadState)},
                    {"status_text", "dnld_failed"}});
    // A download the user cancelled needs no telling.
    if (failure != DownloadFailure::Cancelled)
        NotifyIfAway(m_texts.Translate("The download did not finish."));
}

} // namespace tarvik
