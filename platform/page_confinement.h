#pragma once

#include <optional>
#include <string>

namespace tarvik::platform {

// The rule that keeps the window on the vendor's page, for every web view backend: the page is
// remote content one command away from an elevated launch, so which documents may stay in the
// window and which may speak to the host is decided here once, and each backend only reports
// what its browser did and asks before it acts.
//
// The host's own navigation (and its redirects) is free until a document is committed; the
// origin of that first committed document is the page's origin from then on. A later top-level
// navigation to another origin leaves the page, and only a document of the page's origin may send
// commands.
//
// Threads: one thread, the web view's (the user-interface thread).
class PageConfinement {
public:
    // The host navigates to `url`. False, with the rule unchanged, when the address has no
    // origin: it cannot be the host's page, and nothing is to be loaded.
    bool BeginHostNavigation(const std::string& url);
    // The host's navigation ended before any document was committed: it failed, or the view
    // refused it. A navigation that was only replaced by the host's next one does not end here.
    void HostNavigationEnded();
    // A top-level document was committed at `url`. The first one after BeginHostNavigation is the
    // host's page and fixes its origin.
    void Committed(const std::string& url);

    // Whether the host's navigation has not committed its document yet.
    bool AwaitingHostCommit() const { return awaitingHostCommit_; }
    // Whether a top-level navigation to `target` (or a new window showing it) would take the
    // window away from the host's page. Until the host's page has been committed its navigation
    // and redirects are free, so nothing leaves.
    bool LeavesThePage(const std::string& target) const;
    // Whether a message from the top-level document at `documentUrl` is a command of the host's
    // page. Nothing counts before the host's page was committed.
    bool AcceptsMessagesFrom(const std::string& documentUrl) const;

private:
    std::optional<std::string> hostOrigin_;
    bool awaitingHostCommit_ = false;
};

} // namespace tarvik::platform
