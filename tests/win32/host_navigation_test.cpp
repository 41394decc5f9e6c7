// Which finished navigation is the host's own and whether it found no page, from the sequences of
// events the web view runtime gives.
#include "platform/win32/host_navigation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::platform::win32 {
namespace {

using End = HostNavigation::End;

// The runtime's error values used below (COREWEBVIEW2_WEB_ERROR_STATUS).
constexpr int kUnknown = 0;
constexpr int kCannotConnect = 12;
constexpr int kCancelled = HostNavigation::kOperationCancelled;
constexpr int kAborted = HostNavigation::kConnectionAborted;

struct Step {
    enum Kind { kBegin, kStarted, kCompleted } kind;
    std::uint64_t id = 0;
    bool success = true;
    int error = kUnknown;
    std::optional<int> http;
};

Step Begin() {
    return {Step::kBegin, 0, true, kUnknown, std::nullopt};
}
Step Started(std::uint64_t id) {
    return {Step::kStarted, id, true, kUnknown, std::nullopt};
}
Step Completed(std::uint64_t id, bool success, int error, std::optional<int> http) {
    return {Step::kCompleted, id, success, error, http};
}

std::string Name(End end) {
    switch (end) {
    case End::kNotTheHosts:
        return "not the host's";
    case End::kLoaded:
        return "loaded";
    case End::kFailed:
        return "failed";
    }
    return "?";
}

TEST(HostNavigation, OnlyTheHostsOwnNavigationEndsAndOnlyWithoutAPageItFails) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> ends; // one per completion, in order
    };
    const std::vector<Case> cases = {
        {"a page with 200", {Begin(), Started(5), Completed(5, true, kUnknown, 200)}, {"loaded"}},
        {"redirects keep the number",
         {Begin(), Started(5), Started(5), Started(5), Completed(5, true, kUnknown, 200)},
         {"loaded"}},
        {"no connection",
         {Begin(), Started(5), Completed(5, false, kCannotConnect, {})},
         {"failed"}},
        {"a 404 page", {Begin(), Started(5), Completed(5, false, kUnknown, 404)}, {"failed"}},
        {"a 404 page, runtime without the status",
         {Begin(), Started(5), Completed(5, false, kUnknown, {})},
         {"failed"}},
        {"a 503 page shown as a success",
         {Begin(), Started(5), Completed(5, true, kUnknown, 503)},
         {"failed"}},
        {"a 503 page, runtime without the status",
         {Begin(), Started(5), Completed(5, true, kUnknown, {})},
         {"loaded"}},
        // window.stop() once the answer came: the runtime says the connection was aborted.
        {"stopped after a 200 answer",
         {Begin(), Started(5), Completed(5, false, kAborted, 200)},
         {"loaded"}},
        {"stopped after a 302 answer",
         {Begin(), Started(5), Completed(5, false, kAborted, 302)},
         {"loaded"}},
        {"aborted before any answer",
         {Begin(), Started(5), Completed(5, false, kAborted, {})},
         {"failed"}},
        {"aborted with an error answer",
         {Begin(), Started(5), Completed(5, false, kAborted, 500)},
         {"failed"}},
        {"cancelled by the page moving on",
         {Begin(), Started(5), Started(6), Completed(5, false, kCancelled, 200),
          Completed(6, false, kCannotConnect, {})},
         {"loaded", "not the host's"}},
        {"try again: the first ends cancelled after the second started",
         {Begin(), Started(5), Begin(), Started(6), Completed(5, false, kCancelled, {}),
          Completed(6, false, kCannotConnect, {})},
         {"not the host's", "failed"}},
        {"try again: the first ends cancelled before the second started",
         {Begin(), Started(5), Begin(), Completed(5, false, kCancelled, {}), Started(6),
          Completed(6, true, kUnknown, 200)},
         {"not the host's", "loaded"}},
        {"navigations before the host asked",
         {Started(3), Completed(3, false, kCannotConnect, {}), Begin(), Started(4),
          Completed(4, true, kUnknown, 200)},
         {"not the host's", "loaded"}},
        {"the page's own navigations afterwards",
         {Begin(), Started(5), Completed(5, true, kUnknown, 200), Started(7),
          Completed(7, false, kCannotConnect, {}), Completed(5, false, kCannotConnect, {})},
         {"loaded", "not the host's", "not the host's"}},
        {"a completion without a start",
         {Begin(), Completed(5, false, kCannotConnect, {})},
         {"not the host's"}},
    };
    for (const Case& c : cases) {
        HostNavigation navigation;
        std::vector<std::string> ends;
        for (const Step& step : c.steps) {
            switch (step.kind) {
            case Step::kBegin:
                navigation.Begin();
                break;
            case Step::kStarted:
                navigation.Started(step.id);
                break;
            case Step::kCompleted:
                ends.push_back(
                    Name(navigation.Completed(step.id, step.success, step.error, step.http)));
                break;
            }
        }
        EXPECT_EQ(ends, c.ends) << c.name;
    }
}

} // namespace
} // namespace tarvik::platform::win32
