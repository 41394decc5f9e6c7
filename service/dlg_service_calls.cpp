#include "app/tarvik_dlg.h"

#include "common/curl/web_url.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "service/event_report.h"
#include "service/product_info.h"

namespace tarvik {

// Runs once at start-up, before the message loop, so the page URL is known when the web view
// is ready to navigate.
void CTarvikDlg::FetchProductInfo() {
    TARVIK_LOG("service: info request ", LoggedUrl(NarrowFromWide(m_infoUrl)));
    const service::ProductInfo info =
        service::RequestProductInfo(NarrowFromWide(m_infoUrl), m_options.serviceLimits);
    TARVIK_LOG("service: info ", FailureText(info.failure), ", name ",
               log::Clipped(info.name.value_or("(none)"), 64), ", page ",
               LoggedUrl(info.pageUrl.value_or("")));
    // The title is set first: an answer with a good name and a bad page URL still names the
    // window.
    if (info.name) {
        m_window.SetTitle(ToAnsiFromUtf8(*info.name));
        m_productName = *info.name;
    }
    if (info.pageUrl)
        m_pageUrl = WideFromNarrow(*info.pageUrl);
}

void CTarvikDlg::ReportEvent(const std::string& code) {
    const service::ServiceFailure result = service::SendEventReport(
        m_options.logEndpoint, {m_downloaderId, code, NarrowFromWide(m_uuid)},
        m_options.serviceLimits);
    TARVIK_LOG("service: event ", log::Clipped(code), " reported: ", FailureText(result));
}

} // namespace tarvik
