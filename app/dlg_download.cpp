#include "app/tarvik_dlg.h"

#include "bridge/notices.h"
#include "common/log.h"

#include <variant>

namespace tarvik {

namespace {

template <class... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };
// Spelled out for compilers that do not deduce an aggregate's arguments yet (clang before 17).
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

} // namespace

// Before the web view exists there is no page to tell.
void CTarvikDlg::PostNoticeToPage(const std::string& json) {
    if (!webViewReady_)
        return;
    TARVIK_LOG("notice: ", json);
    webView_.PostJson(json);
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
                    NotifyIfAway(texts_.Translate("The download has finished."));
            },
            [this](const download::SavedAs& saved) {
                PostNoticeToPage(bridge::DownloadFileNotice(saved.fileName, saved.folderName));
            },
            [this](const download::Received& received) {
                PostNoticeToPage(bridge::DownloadReceivedNotice(received.bytes));
            },
            [this](const download::Reconnecting& reconnecting) {
                PostNoticeToPage(bridge::DownloadRetryNotice(reconnecting.attempt));
            },
            [this](const download::Launched& launched) {
                PostNoticeToPage(bridge::InstallNotice(launched.outcome));
            },
            [this](const download::Failed& failed) {
                PostNoticeToPage(bridge::DownloadFailedNotice(failed.reason));
                // A download the user cancelled needs no telling.
                if (failed.reason != DownloadFailure::Cancelled)
                    NotifyIfAway(texts_.Translate("The download did not finish."));
            },
        },
        event);
}

void CTarvikDlg::NotifyIfAway(const std::string& body) {
    if (window_.IsActive())
        return;
    TARVIK_LOG("desktop notification: ", body);
    desktop_.Notify(productName_.empty() ? std::string("Tarvik") : productName_, body);
}

} // namespace tarvik
