#include "platform/page_confinement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvik::platform {
namespace {

// What a backend would ask after a sequence of browser events: whether the host still waits for
// its document, and, for a few probe addresses, whether going there leaves the page and whether
// a document there may send commands.
struct Observed {
    bool awaiting = false;
    std::vector<bool> leaves;
    std::vector<bool> accepts;
    bool operator==(const Observed&) const = default;
};

struct Step {
    enum Kind { Begin, Ended, Committed } kind;
    std::string url;
    bool began = true; // what BeginHostNavigation answers
};

const std::vector<std::string> kProbes = {
    "https://vendor.test/page", "https://vendor.test:443/other#x", "https://cdn.test/page",
    "http://vendor.test/page", "about:blank"};

TEST(PageConfinement, DecidesWhatLeavesAndWhoMaySpeakFromTheHostsOwnNavigation) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        Observed expected;
    };
    const Observed nothingDecided{
        false, {false, false, false, false, false}, {false, false, false, false, false}};
    const Observed onVendor{
        false, {false, false, true, true, true}, {true, true, false, false, false}};
    const Case cases[] = {
        {"before any navigation", {}, nothingDecided},
        {"an address without an origin is not loaded",
         {{Step::Begin, "not an address", false}, {Step::Begin, "https://", false}},
         nothingDecided},
        {"the navigation and its redirects are free until the commit",
         {{Step::Begin, "https://vendor.test/page"}},
         {true, {false, false, false, false, false}, {false, false, false, false, false}}},
        {"the committed document fixes the origin",
         {{Step::Begin, "https://vendor.test/"}, {Step::Committed, "https://vendor.test/page"}},
         onVendor},
        {"a redirect to another origin makes that the page's origin",
         {{Step::Begin, "https://vendor.test/"}, {Step::Committed, "https://cdn.test/page"}},
         {false, {true, true, false, true, true}, {false, false, true, false, false}}},
        {"a later commit does not move the origin",
         {{Step::Begin, "https://vendor.test/"},
          {Step::Committed, "https://vendor.test/page"},
          {Step::Committed, "https://cdn.test/page"}},
         onVendor},
        {"a failed navigation leaves no page to speak for",
         {{Step::Begin, "https://vendor.test/"}, {Step::Ended, ""}},
         nothingDecided},
        {"the end of a navigation after its commit changes nothing",
         {{Step::Begin, "https://vendor.test/"},
          {Step::Committed, "https://vendor.test/page"},
          {Step::Ended, ""}},
         onVendor},
        {"a new navigation forgets the old origin",
         {{Step::Begin, "https://vendor.test/"},
          {Step::Committed, "https://vendor.test/page"},
          {Step::Begin, "https://cdn.test/"}},
         {true, {false, false, false, false, false}, {false, false, false, false, false}}},
        {"an address without an origin keeps the page as it was",
         {{Step::Begin, "https://vendor.test/"},
          {Step::Committed, "https://vendor.test/page"},
          {Step::Begin, "no address", false}},
         onVendor},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageConfinement rule;
        for (const Step& step : c.steps) {
            switch (step.kind) {
            case Step::Begin:
                EXPECT_EQ(rule.BeginHostNavigation(step.url), step.began) << step.url;
                break;
            case Step::Ended:
                rule.HostNavigationEnded();
                break;
            case Step::Committed:
                rule.Committed(step.url);
                break;
            }
        }
        Observed observed;
        observed.awaiting = rule.AwaitingHostCommit();
        for (const std::string& probe : kProbes) {
            observed.leaves.push_back(rule.LeavesThePage(probe));
            observed.accepts.push_back(rule.AcceptsMessagesFrom(probe));
        }
        EXPECT_EQ(observed, c.expected);
    }
}

} // namespace
} // namespace tarvik::platform
