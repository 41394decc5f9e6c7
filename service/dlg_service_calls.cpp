#include "app/tarvik_dlg.h"

#include "common/curl/web_url.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "service/event_report.h"
#include "service/event_sender.h"
#include "service/info_request_job.h"
#include "service/product_info.h"

namespace tarvik {

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
    m_infoJob.reset();
    TARVIK_LOG("service: info request ", LoggedUrl(NarrowFromWide(m_infoUrl)));
    m_infoAnswered = false;
    m_infoUsable = false;
    const uint64_t number = ++m_infoRequests;
    platform::Window* window = &m_window;
    m_infoJob = std::make_unique<service::InfoRequestJob>(
        NarrowFromWide(m_infoUrl), m_options.serviceLimits, ProxyLookupOf(m_system),
        [window, number] {
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
        m_window.SetTitle(ToAnsiFromUtf8(*answer->name));
        m_productName = *answer->name;
    }
    m_pageUrl = answer->pageUrl ? WideFromNarrow(*answer->pageUrl) : std::wstring();
    // Without a page there is nothing the window could show: before, the window then stayed
    // off-screen for good.
    m_infoUsable = answer->failure == service::ServiceFailure::None && !m_pageUrl.empty();
    if (!m_infoUsable) {
        ShowBuiltInPage(StartState::ServiceUnreachable);
        return;
    }
    NavigateWhenReady();
}

void CTarvikDlg::ReportEvent(const std::string& code) {
    m_events->Enqueue({m_downloaderId, code, NarrowFromWide(m_uuid)});
}

bool CTarvikDlg::eventsIdle() const {
    return m_events->Idle();
}

} // namespace tarvik
