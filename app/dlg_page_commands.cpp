#include "app/tarvik_dlg.h"

#include "bridge/link_policy.h"
#include "bridge/notices.h"
#include "common/curl/web_url.h"
#include "common/event_codes.h"
#include "common/log.h"

#include <variant>

namespace tarvik {

// The single entry point for the page's commands: the message is read whole into a command
// first, so a malformed one (wrong types, missing arguments) is dropped before anything happens.
void CTarvikDlg::OnWebMessage(const std::string& utf8Text) {
    bridge::DecodedMessage decoded = bridge::DecodePageMessage(utf8Text);
    if (decoded.outcome == bridge::DecodedMessage::Outcome::NotACommand) {
        TARVIK_LOG("page command ignored: not a command (", utf8Text.size(), " bytes)");
        return;
    }
    if (!decoded.type)
        return;
    TARVIK_LOG("page command: ", log::Clipped(*decoded.type));
    if (decoded.outcome == bridge::DecodedMessage::Outcome::Malformed)
        TARVIK_LOG("page command ignored: arguments missing or of the wrong type");
    if (decoded.command)
        std::visit(*this, *decoded.command);
}

void CTarvikDlg::operator()(const bridge::OpenUrl& command) {
    // The event tells the service that a link was opened, so it is reported only for what went
    // to the desktop.
    if (!bridge::IsOpenableLink(command.url)) {
        TARVIK_LOG("page: link not opened: ", log::Clipped(UrlScheme(command.url).value_or("?")),
                   ": links are opened for http, https and mailto only");
        return;
    }
    desktop_.OpenUri(command.url);
    ReportEvent(kEventLinkOpened);
}

void CTarvikDlg::OpenOutsideThePage(const std::string& url) {
    if (bridge::IsOpenableLink(url))
        desktop_.OpenUri(url);
}

void CTarvikDlg::operator()(const bridge::Install& /*command*/) {
    download_.Launch();
}

void CTarvikDlg::operator()(const bridge::RevealDownload& /*command*/) {
    download_.Reveal();
}

void CTarvikDlg::operator()(const bridge::Download& command) {
    download_.Request({command.url, command.silent, command.sha256, command.minisig});
}

void CTarvikDlg::operator()(const bridge::AskDownloadState& /*command*/) {
    if (download_.state() == DownloadState::Idle)
        TARVIK_LOG("page command ignored: arguments missing or of the wrong type");
    download_.AskState();
}

void CTarvikDlg::operator()(const bridge::CancelDownload& /*command*/) {
    download_.Cancel();
}

void CTarvikDlg::operator()(const bridge::ReportPageEvent& command) {
    ReportEvent(command.eventId);
}

void CTarvikDlg::operator()(const bridge::Close& command) {
    if (download_.state() == DownloadState::Running && !command.force) {
        // The window stays open: the page asks the user and repeats the request with
        // force_close set when the download may be abandoned.
        PostNoticeToPage(bridge::CloseWhileDownloadingNotice());
        return;
    }
    EndDialog(kEndedByPage);
}

void CTarvikDlg::operator()(const bridge::ShowWindow& command) {
    switch (command.as) {
    case bridge::ShowWindow::As::Minimized:
        window_.Show(platform::ShowCommand::Minimized);
        break;
    case bridge::ShowWindow::As::Maximized:
        window_.Show(platform::ShowCommand::Maximized);
        break;
    case bridge::ShowWindow::As::Normal:
        window_.Show(platform::ShowCommand::Normal);
        break;
    }
}

void CTarvikDlg::operator()(const bridge::ResizeWindow& command) {
    ResizeWindow(command.width.value_or(static_cast<int32_t>(defaultWidth_)),
                 command.height.value_or(static_cast<int32_t>(defaultHeight_)), command.title);
    ReportEvent(kEventWindowSized);
}

void CTarvikDlg::operator()(const bridge::Mouse& command) {
    const int64_t point = MakePointParam(command.x, command.y);
    switch (command.action) {
    case bridge::Mouse::Action::Down:
        dragging_ = true;
        PostToSelf(WM_LBUTTONDOWN, 0, point);
        break;
    case bridge::Mouse::Action::Up:
        PostToSelf(WM_LBUTTONUP, 0, point);
        break;
    case bridge::Mouse::Action::Move:
        PostToSelf(WM_MOUSEMOVE, 0, point);
        break;
    }
}

} // namespace tarvik
