#include "app/tarvik_dlg.h"

#include "bridge/built_in_page_texts.h"
#include "common/curl/web_url.h"
#include "common/event_codes.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "platform/geometry.h"
#include "service/event_report.h"
#include "service/event_sender.h"
#include "service/info_request_job.h"
#include "service/product_info.h"
#include "settings/config_loader.h"
#include "settings/install_id.h"

#include <nlohmann/json.hpp>

// The start-up: the configuration, the product info request, the web view and the navigation to
// the vendor's page, and the built-in page shown while that page is not there.
namespace tarvik {

void CTarvikDlg::LoadConfig() {
    const std::string path = m_options.configPath.empty()
                                 ? settings::ConfigPathBesideExecutable(m_system)
                                 : m_options.configPath.string();
    const std::function<std::wstring()> makeInstallId =
        m_options.makeInstallId ? m_options.makeInstallId
                                : std::function<std::wstring()>(settings::MakeInstallId);
    const settings::LoadedConfig config =
        settings::LoadConfigFile(m_system, path, m_options.infoEndpoint, makeInstallId);
    m_downloaderId = config.downloaderId;
    // The settings keep their text wide; inside the host it is UTF-8 from here on.
    m_infoUrl = NarrowFromWide(config.infoUrl);
    m_uuid = NarrowFromWide(config.uuid);
    m_options.transferLimits.connections = config.connections;
    m_download.SetLimits(m_options.transferLimits);
    TARVIK_LOG("config: ", path, ": downloader_id ", m_downloaderId, ", info URL ",
               LoggedUrl(m_infoUrl), ", uuid ", log::Shortened(m_uuid));
}

// The desktop's proxy for each request, asked on the request's own thread (every System may be
// asked from any thread, and it outlives the host).
ProxyLookup ProxyLookupOf(platform::System& system) {
    return [&system](const std::string& url) { return system.ProxyFor(url); };
}

// Runs on a worker thread, so that the loop keeps turning while the service answers: the web
// view starts its processes from the loop, and it is made at the same time.
void CTarvikDlg::FetchProductInfo() {
    // A request still under way is stopped first; its answer, if already posted, carries an
    // older number and is ignored.
    m_infoJob.reset();
    TARVIK_LOG("service: info request ", LoggedUrl(m_infoUrl));
    m_infoAnswered = false;
    m_infoUsable = false;
    const uint64_t number = ++m_infoRequests;
    platform::Window* window = &m_window;
    m_infoJob = std::make_unique<service::InfoRequestJob>(
        m_infoUrl, m_options.serviceLimits, ProxyLookupOf(m_system), [window, number] {
            window->Post({WM_INFO_ANSWER, number, 0});
        });
}

void CTarvikDlg::OnInfoAnswer(const HostMessage& message) {
    if (message.wParam != m_infoRequests || !m_infoJob)
        return;
    const std::optional<service::ProductInfo> answer = m_infoJob->TakeAnswer();
    if (!answer)
        return;
    m_infoAnswered = true;
    TARVIK_LOG("service: info ", FailureText(answer->failure), ", name ",
               log::Clipped(answer->name.value_or("(none)"), 64), ", page ",
               LoggedUrl(answer->pageUrl.value_or("")));
    // The title is set first, before any navigation: an answer with a good name and a bad page
    // URL still names the window.
    if (answer->name) {
        m_window.SetTitle(*answer->name);
        m_productName = *answer->name;
    }
    m_pageUrl = answer->pageUrl.value_or(std::string());
    // Without a page there is nothing the window could show.
    m_infoUsable = answer->failure == service::ServiceFailure::None && !m_pageUrl.empty();
    if (!m_infoUsable) {
        ShowBuiltInPage(StartState::ServiceUnreachable);
        return;
    }
    NavigateWhenReady();
}

void CTarvikDlg::ReportEvent(const std::string& code) {
    m_events->Enqueue({m_downloaderId, code, m_uuid});
}

bool CTarvikDlg::eventsIdle() const {
    return m_events->Idle();
}

void CTarvikDlg::CreateWebView() {
    m_webView.Create([this] { OnWebViewReady(); });
}

// Runs from the message loop, after the start-up has read the configuration; the service's
// answer may come before or after it.
void CTarvikDlg::OnWebViewReady() {
    m_webViewReady = true;
    m_webView.FitToWindow();
    m_webView.SetMessageHandler([this](const std::string& text) { OnWebMessage(text); });
    m_webView.SetExternalNavigationHandler(
        [this](const std::string& url) { OpenOutsideThePage(url); });
    m_webView.SetLoadFailureHandler([this] { OnPageLoadFailed(); });
    NavigateWhenReady();
}

void CTarvikDlg::NavigateWhenReady() {
    if (!m_webViewReady || !m_infoAnswered || !m_infoUsable || m_navigated)
        return;
    m_navigated = true;
    m_pageSized = false;
    TARVIK_LOG("page: navigating to ", LoggedUrl(m_pageUrl));
    m_webView.Navigate(m_pageUrl);
    m_window.StartTimer(kPageTimer, m_options.pageLimit);
}

void CTarvikDlg::OnPageLoadFailed() {
    // Only the host's own navigation counts, and only until the page has shown itself.
    if (!m_navigated || m_pageSized)
        return;
    ShowBuiltInPage(StartState::PageFailed);
}

namespace {

const char* StateName(StartState state) {
    switch (state) {
    case StartState::Connecting:
        return "connecting";
    case StartState::ServiceUnreachable:
        return "service";
    case StartState::PageFailed:
        return "page";
    }
    return "connecting";
}

} // namespace

void CTarvikDlg::ShowBuiltInPage(StartState state) {
    const bool failed = state != StartState::Connecting;
    if (failed) {
        // The failure is final until the user asks again: no timer may replace what it says.
        m_window.StopTimer(kConnectingTimer);
        m_window.StopTimer(kPageTimer);
        // The service learns that a start failed with an event like the page's own; it may be
        // unreachable, and then the report is simply lost like any other.
        if (m_startState != state)
            ReportEvent(kEventStartFailed);
    }
    m_startState = state;
    nlohmann::json data = bridge::BuiltInPageTexts(m_texts);
    data["state"] = StateName(state);
    m_builtInPage.Show(data.dump());
    // The window is still off-screen (the vendor's page never sized it): the built-in page gets
    // the dialog's own size, centred, which brings it on screen.
    if (!m_builtInPlaced && !m_pageSized) {
        m_builtInPlaced = true;
        const platform::Dpi dpi = m_window.ScreenDpi();
        m_window.SetSize(dpi.x * platform::kInitialWindowWidth / 96u,
                         dpi.y * platform::kInitialWindowHeight / 96u);
        m_window.Center();
    }
}

void CTarvikDlg::OnBuiltInCommand(const std::string& command) {
    if (command == "close") {
        EndDialog(kEndedByPage);
    } else if (command == "retry") {
        // Only a failure can be tried again; while connecting there is nothing to repeat.
        if (!m_startState || m_startState == StartState::Connecting)
            return;
        ShowBuiltInPage(StartState::Connecting);
        m_navigated = false;
        m_pageSized = false;
        FetchProductInfo();
    }
}

void CTarvikDlg::OnTimer(uint64_t id) {
    // A timer's message may have been queued before the page sized the window.
    if (m_pageSized || (m_startState && m_startState != StartState::Connecting))
        return;
    if (id == kConnectingTimer) {
        if (!m_builtInPage.IsShown())
            ShowBuiltInPage(StartState::Connecting);
    } else if (id == kPageTimer) {
        if (m_navigated)
            ShowBuiltInPage(StartState::PageFailed);
    }
}

} // namespace tarvik
