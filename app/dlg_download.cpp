#include "app/tarvik_dlg.h"

#include "bridge/notices.h"
#include "common/log.h"

#include <variant>

namespace tarvik {

namespace {

template <class... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

} // namespace

// Before the web view exists there is no page to tell.
void CTarvikDlg::PostNoticeToPage(const std::string& json) {
    if (!m_webViewReady)
        return;
    TARVIK_LOG("notice: ", json);
    m_webView.PostJson(json);
}

void CTarvikDlg::OnDownloadEvent(const download::SessionEvent& event) {
    std::visit(
        Overloaded{
            [this](const download::Started&) { PostNoticeToPage(bridge::DownloadStartedNotice()); },
            [this](const download::Progress& progress) {
                PostNoticeToPage(bridge::DownloadProgressNotice(progress.figures));
            },
            [this](const download::Finished& finished) {
                PostNoticeToPage(bridge::DownloadFinishedNotice());
                // The page asking again after the end is no news for the user.
                if (!finished.repeated)
                    NotifyIfAway(m_texts.Translate("The download has finished."));
            },
            [this](const download::Failed& failed) {
                PostNoticeToPage(bridge::DownloadFailedNotice(failed.reason));
                // A download the user cancelled needs no telling.
                if (failed.reason != DownloadFailure::Cancelled)
                    NotifyIfAway(m_texts.Translate("The download did not finish."));
            },
        },
        event);
}

void CTarvikDlg::NotifyIfAway(const std::string& body) {
    if (m_window.IsActive())
        return;
    TARVIK_LOG("desktop notification: ", body);
    m_desktop.Notify(m_productName.empty() ? std::string("Tarvik") : m_productName, body);
}

} // namespace tarvik
