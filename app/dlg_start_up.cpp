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

namespace {

// A few words for support on why the service's answer was of no use.
const char* AnswerDetail(service::ServiceFailure failure) {
    using service::ServiceFailure;
    switch (failure) {
    case ServiceFailure::None:
        return "no page"; // answered with a name but no page
    case ServiceFailure::BadUrl:
        return "bad address";
    case ServiceFailure::Setup:
        return "not set up";
    case ServiceFailure::Network:
        return "";
    case ServiceFailure::Timeout:
        return "timed out";
    case ServiceFailure::TooLarge:
        return "too large";
    case ServiceFailure::HttpStatus:
        return "HTTP status";
    case ServiceFailure::Declined:
        return "declined";
    case ServiceFailure::Malformed:
        return "malformed";
    }
    return "";
}

// What the built-in page says about a service's answer that leaves nothing to show: an answer
// that came is the service refusing, whatever the connection did for it.
bridge::StartProblem ProblemOfAnswer(const service::ProductInfo& answer) {
    using Reason = bridge::StartProblem::Reason;
    using service::ServiceFailure;
    const bool noAnswer =
        answer.failure == ServiceFailure::Network || answer.failure == ServiceFailure::Timeout ||
        answer.failure == ServiceFailure::BadUrl || answer.failure == ServiceFailure::Setup;
    const Reason reason = answer.certificate != CertificateProblem::None ? Reason::Certificate
                          : noAnswer                                     ? Reason::NoConnection
                                                                         : Reason::Refused;
    return bridge::StartProblem{bridge::StartProblem::Where::Service, reason, answer.httpStatus,
                                answer.certificate, AnswerDetail(answer.failure)};
}

} // namespace

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
        SetWindowTitle(*answer->name);
        productName_ = *answer->name;
    }
    pageUrl_ = answer->pageUrl.value_or(std::string());
    // Without a page there is nothing the window could show.
    infoUsable_ = answer->failure == service::ServiceFailure::None && !pageUrl_.empty();
    if (!infoUsable_) {
        problem_ = ProblemOfAnswer(*answer);
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
    webView_.SetLoadFailureHandler(
        [this](const platform::LoadFailure& failure) { OnPageLoadFailed(failure); });
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

void CTarvikDlg::OnPageLoadFailed(const platform::LoadFailure& failure) {
    // Only the host's own navigation counts, and only until the page has shown itself.
    if (!navigated_ || pageSized_)
        return;
    using Reason = bridge::StartProblem::Reason;
    problem_ =
        bridge::StartProblem{bridge::StartProblem::Where::Page,
                             failure.certificate != CertificateProblem::None ? Reason::Certificate
                             : failure.httpStatus > 0                        ? Reason::HttpError
                                                                             : Reason::NoConnection,
                             failure.httpStatus,
                             failure.certificate,
                             {}};
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
    }
    // "Try again" shows "Connecting…" long enough to be seen: a failure that comes back at once
    // would otherwise leave the page as it was, as if the button had done nothing.
    if (failed && retriedAt_) {
        const auto shown = std::chrono::steady_clock::now() - *retriedAt_;
        if (shown < options_.retryShownAtLeast) {
            pendingState_ = state;
            window_.StartTimer(kRetryTimer, std::chrono::ceil<std::chrono::milliseconds>(
                                                options_.retryShownAtLeast - shown));
            return;
        }
    }
    retriedAt_.reset();
    pendingState_.reset();
    // The service learns that a start failed with an event like the page's own; it may be
    // unreachable, and then the report is simply lost like any other.
    if (failed && startState_ != state)
        ReportEvent(kEventStartFailed);
    startState_ = state;
    nlohmann::json data =
        bridge::BuiltInPageTexts(texts_, failed ? problem_ : std::nullopt, productName_);
    data["state"] = StateName(state);
    builtInPage_.Show(data.dump());
    // The window is named even before the service has named the product: a window without a
    // title has no name a screen reader could say.
    if (!titled_)
        SetWindowTitle(texts_.Translate("Installer"));
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
        retriedAt_ = std::chrono::steady_clock::now();
        navigated_ = false;
        pageSized_ = false;
        FetchProductInfo();
    }
}

void CTarvikDlg::OnTimer(uint64_t id) {
    // A timer's message may have been queued before the page sized the window.
    if (pageSized_ || (startState_ && startState_ != StartState::Connecting))
        return;
    if (id == kRetryTimer) {
        if (const std::optional<StartState> pending = pendingState_) {
            retriedAt_.reset();
            ShowBuiltInPage(*pending);
        }
        return;
    }
    if (id == kConnectingTimer) {
        if (!builtInPage_.IsShown())
            ShowBuiltInPage(StartState::Connecting);
    } else if (id == kPageTimer) {
        if (navigated_) {
            problem_ = bridge::StartProblem{bridge::StartProblem::Where::Page,
                                            bridge::StartProblem::Reason::TooSlow,
                                            0,
                                            CertificateProblem::None,
                                            {}};
            ShowBuiltInPage(StartState::PageFailed);
        }
    }
}

} // namespace tarvik
