#include "platform/page_confinement.h"

#include "common/curl/web_url.h"

namespace tarvik::platform {

bool PageConfinement::BeginHostNavigation(const std::string& url) {
    if (!OriginOf(url))
        return false;
    hostOrigin_.reset();
    awaitingHostCommit_ = true;
    return true;
}

void PageConfinement::HostNavigationEnded() {
    awaitingHostCommit_ = false;
}

void PageConfinement::Committed(const std::string& url) {
    if (!awaitingHostCommit_)
        return;
    awaitingHostCommit_ = false;
    hostOrigin_ = OriginOf(url);
}

bool PageConfinement::LeavesThePage(const std::string& target) const {
    if (awaitingHostCommit_ || !hostOrigin_)
        return false;
    return OriginOf(target) != hostOrigin_;
}

bool PageConfinement::AcceptsMessagesFrom(const std::string& documentUrl) const {
    return hostOrigin_ && OriginOf(documentUrl) == hostOrigin_;
}

} // namespace tarvik::platform
