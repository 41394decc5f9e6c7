#include "transfer_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarvik::download::testing {
namespace {

namespace fs = std::filesystem;
using Rule = RangeServer::Rule;

// A vendor who turns the log on sees how each attempt ended: the range it asked for, the HTTP
// status, the library's own words, the bytes it brought, what the answer meant for the bytes
// held, and what came next.
TEST(TransferLog, EachAttemptsEndIsLogged) {
    const std::string body = PatternBody(kSizedBody);
    std::string changed = body;
    std::reverse(changed.begin(), changed.end());
    const std::string first =
        "download: attempt 1 (whole file): HTTP 200, 100000 bytes, \"transfer closed with "
        "162144 bytes remaining to read\", whole file; retry at once, 1 of 100 retries, 1 of 3 "
        "in a row without progress";
    struct Case {
        const char* name;
        RangeServer::Options options;
        std::vector<Rule> script;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"dropped, then continued",
         {},
         {Rule::DropAfter(100'000)},
         {first, "download: attempt 2 (bytes=100000-): HTTP 206, 162144 bytes, \"No error\", "
                 "range continues the file; range complete"}},
        {"the file changed, If-Range ignored",
         {.honoursIfRange = false},
         {Rule::DropAfter(100'000), Rule::Replacing(changed)},
         {first,
          "download: attempt 2 (bytes=100000-): HTTP 206, 0 bytes, \"Failure writing output to "
          "destination\", range of another version; starts over at once, 2 of 100 retries, 2 of 3 "
          "in a row without progress",
          "download: attempt 3 (whole file): HTTP 200, 262144 bytes, \"No error\", whole file; "
          "range complete"}},
        {"204",
         {},
         {Rule::Answering204()},
         {"download: attempt 1 (whole file): HTTP 204, 0 bytes, \"No error\", answer without "
          "content; fails: http"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(body, c.script, c.options);
        TempFolder folder;
        TransferLimits limits = TestLimits();
        limits.connections = 1;
        LogLines log;

        Download(server.Url(), folder.path() / "setup.exe", limits);

        EXPECT_EQ(log.Starting("download: attempt "), c.expected);
    }
}

} // namespace
} // namespace tarvik::download::testing
