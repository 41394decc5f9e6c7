#include "app/tarvik_dlg.h"

#include "bridge/link_policy.h"
#include "bridge/page_arguments.h"
#include "common/curl/web_url.h"
#include "common/event_codes.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "download/sha256.h"

#include <nlohmann/json.hpp>

namespace tarvik {

using bridge::BooleanArgument;
using bridge::HasMember;
using bridge::Int32Argument;
using bridge::Member;
using bridge::StringArgument;
using nlohmann::json;

void CTarvikDlg::OpenOutsideThePage(const std::string& url) {
    if (bridge::IsOpenableLink(url))
        m_desktop.OpenUri(url);
}

// The single entry point for the page's commands. Every command reads all of its arguments
// before it acts, so a malformed message (wrong types, missing arguments) throws before any
// effect and is dropped here whole.
void CTarvikDlg::OnWebMessage(const std::string& utf8Text) {
    // A zero byte can never be part of JSON text (inside a string it must be escaped), but the
    // JSON reader takes it for the end of its input and would accept whatever came before it.
    if (utf8Text.find('\0') != std::string::npos)
        return;
    const json message = json::parse(utf8Text, nullptr,
                                     /*allow_exceptions=*/false, /*ignore_comments=*/false);
    if (!message.is_object() || !message.contains("msg_type")) {
        TARVIK_LOG("page command ignored: not a command (", utf8Text.size(), " bytes)");
        return;
    }
    try {
        const json& typeValue = message["msg_type"];
        if (!typeValue.is_string())
            return;
        const std::string& type = typeValue.get_ref<const std::string&>();
        TARVIK_LOG("page command: ", log::Clipped(type));
        const json& data = Member(message, "msg_data");

        if (type == "open_url") {
            const std::string url = StringArgument(data, "url");
            // The event tells the service that a link was opened, so it is reported only for
            // what went to the desktop.
            if (!bridge::IsOpenableLink(url)) {
                TARVIK_LOG("page: link not opened: ", log::Clipped(UrlScheme(url).value_or("?")),
                           ": links are opened for http, https and mailto only");
                return;
            }
            m_desktop.OpenUri(url);
            ReportEvent(kEventLinkOpened);
        } else if (type == "install") {
            LaunchInstaller();
        } else if (type == "open_dnld_dir") {
            RevealDownload();
        } else if (type == "dnld") {
            if (m_downloadState == DownloadState::Running) {
                PostToSelf(WM_DNLD_START, kRepeatedNotice);
            } else if (m_downloadState == DownloadState::Finished) {
                PostToSelf(WM_DNLD_FINISHED);
            } else if (!m_downloadStarting) {
                // A request that arrives while another is being set up (its save dialog is open,
                // or its start is posted but not handled) would start a second transfer over the
                // same fields; it is dropped instead.
                m_downloadUrl.clear();
                const std::string url = StringArgument(data, "url");
                const bool silent = BooleanArgument(data, "silent");
                // Optional; when present it must be 64 hexadecimal digits, or the whole message
                // is malformed.
                std::optional<download::Sha256Digest> sha256;
                if (HasMember(data, "sha256")) {
                    sha256 = download::ParseSha256(StringArgument(data, "sha256"));
                    if (!sha256)
                        return;
                }
                m_expectedSha256 = sha256;
                m_downloadUrl = WideFromNarrow(url);
                StartDownload(silent);
            }
        } else if (type == "dnld_cancel") {
            CancelDownload();
        } else if (type == "post_data") {
            ReportEvent(StringArgument(data, "event_id"));
        } else if (type == "close") {
            const bool force = BooleanArgument(data, "force_close");
            if (m_downloadState == DownloadState::Running && !force) {
                // The window stays open: the page asks the user and repeats the request with
                // force_close set when the download may be abandoned.
                PostJsonToPage(
                    {{"msg_type", "close"}, {"status", 1}, {"status_text", "dnld_running"}});
            } else {
                EndDialog(kEndedByPage);
            }
        } else if (type == "minimize") {
            m_window.Show(platform::ShowCommand::Minimized);
        } else if (type == "maximize") {
            m_window.Show(platform::ShowCommand::Maximized);
        } else if (type == "restore") {
            m_window.Show(platform::ShowCommand::Normal);
        } else if (type == "resize_window") {
            // Each member is optional; one that is present must have the right type.
            const int32_t width = HasMember(data, "width") ? Int32Argument(data, "width")
                                                           : static_cast<int32_t>(m_defaultWidth);
            const int32_t height = HasMember(data, "height")
                                       ? Int32Argument(data, "height")
                                       : static_cast<int32_t>(m_defaultHeight);
            std::optional<std::string> title;
            if (HasMember(data, "window_text"))
                title = StringArgument(data, "window_text");
            ResizeWindow(width, height, title);
            ReportEvent(kEventWindowSized);
        } else if (type == "mousedown" || type == "mouseup" || type == "mousemove") {
            const int32_t x = Int32Argument(data, "x");
            const int32_t y = Int32Argument(data, "y");
            const int64_t point = MakePointParam(x, y);
            if (type == "mousedown") {
                m_dragging = true;
                PostToSelf(WM_LBUTTONDOWN, 0, point);
            } else if (type == "mouseup") {
                PostToSelf(WM_LBUTTONUP, 0, point);
            } else {
                PostToSelf(WM_MOUSEMOVE, 0, point);
            }
        }
    } catch (const json::exception&) {
        // Malformed: ignored without effect.
        TARVIK_LOG("page command ignored: arguments missing or of the wrong type");
    }
}

} // namespace tarvik
