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
    const std::string path = options_.configPath.empty()
                                 ? settings::ConfigPathBesideExecutable(system_)
                                 : options_.configPath.string();
    const std::function<std::wstring()> makeInstallId =
        options_.makeInstallId ? options_.makeInstallId
                               : std::function<std::wstring()>(settings::MakeInstallId);
    const settings::LoadedConfig config =
        settings::ReadConfigFile(system_, path, options_.infoEndpoint, makeInstallId);
    // The identifier is stored meanwhile: the write syncs to disk, which took 30 to 100 ms of
    // the user-interface thread on a busy machine, in front of the info request. The identifier
    // itself is used from memory; a failed write is no error (the next start makes a new one).
    if (config.uuidIsNew) {
        installIdWriter_ = std::jthread([&system = system_, path, uuid = config.uuid] {
            settings::StoreInstallId(system, path, uuid);
        });
    }
    downloaderId_ = config.downloaderId;
    // The settings keep their text wide; inside the host it is UTF-8 from here on.
    infoUrl_ = NarrowFromWide(config.infoUrl);
    uuid_ = NarrowFromWide(config.uuid);
    options_.transferLimits.connections = config.connections;
    download_.SetLimits(options_.transferLimits);
    TARVIK_LOG("config: ", path, ": downloader_id ", downloaderId_, ", info URL ",
               LoggedUrl(infoUrl_), ", uuid ", log::Shortened(uuid_));
}

// The desktop's proxy for each request, asked on the request's own thread (every System may be
// asked from any thread, and it outlives the host).
ProxyLookup ProxyLookupOf(platform::System& system) {
    return [&system](const std::string& url, std::stop_token stop) {
        return system.ProxyFor(url, std::move(stop));
    };
}

// Runs on a worker thread, so that the loop keeps turning while the service answers: the web
// view starts its processes from the loop, and it is made at the same time.
void CTarvikDlg::FetchProductInfo() {
    // A request still under way is stopped first; its answer, if already posted, carries an
    // older number and is ignored.
    infoJob_.reset();
    TARVIK_LOG("service: info request ", LoggedUrl(infoUrl_));
    infoAnswered_ = false;
    infoUsable_ = false;
    const uint64_t number = ++infoRequests_;
    platform::Window* window = &window_;
    infoJob_ = std::make_unique<service::InfoRequestJob>(
        infoUrl_, options_.serviceLimits, ProxyLookupOf(system_), [window, number] {
            window->Post({WM_INFO_ANSWER, number, 0});
        });
}

void CTarvikDlg::OnInfoAnswer(const HostMessage& message) {
    if (message.wParam != infoRequests_ || !infoJob_)
        return;
    const std::optional<service::ProductInfo> answer = infoJob_->TakeAnswer();
    if (!answer)
        return;
    infoAnswered_ = true;
    TARVIK_LOG("service: info ", FailureText(answer->failure), ", name ",
               log::Clipped(answer->name.value_or("(none)"), 64), ", page ",
               LoggedUrl(answer->pageUrl.value_or("")));
    // The title is set first, before any navigation: an answer with a good name and a bad page
    // URL still names the window.
    if (answer->name) {
        window_.SetTitle(*answer->name);
        productName_ = *answer->name;
    }
    pageUrl_ = answer->pageUrl.value_or(std::string());
    // Without a page there is nothing the window could show.
    infoUsable_ = answer->failure == service::ServiceFailure::None && !pageUrl_.empty();
    if (!infoUsable_) {
        ShowBuiltInPage(StartState::ServiceUnreachable);
        return;
    }
    NavigateWhenReady();
}

void CTarvikDlg::ReportEvent(const std::string& code) {
    events_->Enqueue({downloaderId_, code, uuid_});
}

bool CTarvikDlg::eventsIdle() const {
    return events_->Idle();
}

void CTarvikDlg::CreateWebView() {
    webView_.Create([this] { OnWebViewReady(); });
}

// Runs from the message loop, after the start-up has read the configuration; the service's
// answer may come before or after it.
void CTarvikDlg::OnWebViewReady() {
    webViewReady_ = true;
    webView_.FitToWindow();
    webView_.SetMessageHandler([this](const std::string& text) { OnWebMessage(text); });
    webView_.SetExternalNavigationHandler(
        [this](const std::string& url) { OpenOutsideThePage(url); });
    webView_.SetLoadFailureHandler([this] { OnPageLoadFailed(); });
    NavigateWhenReady();
}

void CTarvikDlg::NavigateWhenReady() {
    if (!webViewReady_ || !infoAnswered_ || !infoUsable_ || navigated_)
        return;
    navigated_ = true;
    pageSized_ = false;
    TARVIK_LOG("page: navigating to ", LoggedUrl(pageUrl_));
    webView_.Navigate(pageUrl_);
    window_.StartTimer(kPageTimer, options_.pageLimit);
}

void CTarvikDlg::OnPageLoadFailed() {
    // Only the host's own navigation counts, and only until the page has shown itself.
    if (!navigated_ || pageSized_)
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
        window_.StopTimer(kConnectingTimer);
        window_.StopTimer(kPageTimer);
        // The service learns that a start failed with an event like the page's own; it may be
        // unreachable, and then the report is simply lost like any other.
        if (startState_ != state)
            ReportEvent(kEventStartFailed);
    }
    startState_ = state;
    nlohmann::json data = bridge::BuiltInPageTexts(texts_);
    data["state"] = StateName(state);
    builtInPage_.Show(data.dump());
    // The window is still hidden (the vendor's page never sized it): the built-in page gets the
    // dialog's own size, centred, and is shown so, once.
    if (!builtInPlaced_ && !pageSized_) {
        builtInPlaced_ = true;
        const platform::Dpi dpi = window_.ScreenDpi();
        window_.SetSize(dpi.x * platform::kInitialWindowWidth / 96u,
                        dpi.y * platform::kInitialWindowHeight / 96u);
        window_.Center();
        window_.Present();
    }
}

void CTarvikDlg::OnBuiltInCommand(const std::string& command) {
    if (command == "close") {
        EndDialog(kEndedByPage);
    } else if (command == "retry") {
        // Only a failure can be tried again; while connecting there is nothing to repeat.
        if (!startState_ || startState_ == StartState::Connecting)
            return;
        ShowBuiltInPage(StartState::Connecting);
        navigated_ = false;
        pageSized_ = false;
        FetchProductInfo();
    }
}

void CTarvikDlg::OnTimer(uint64_t id) {
    // A timer's message may have been queued before the page sized the window.
    if (pageSized_ || (startState_ && startState_ != StartState::Connecting))
        return;
    if (id == kConnectingTimer) {
        if (!builtInPage_.IsShown())
            ShowBuiltInPage(StartState::Connecting);
    } else if (id == kPageTimer) {
        if (navigated_)
            ShowBuiltInPage(StartState::PageFailed);
    }
}

} // namespace tarvik
