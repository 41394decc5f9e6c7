#include "transfer_fixture.h"

#include "common/download_failure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace tarvik::download::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Rule = RangeServer::Rule;
using Request = RangeServer::Request;

constexpr size_t kBody = 1024 * 1024;

TransferLimits OneConnection() {
    TransferLimits limits = TestLimits();
    limits.connections = 1;
    return limits;
}

// Progress may pause while a transfer is retried, but never goes back.
void ExpectSteadyProgress(const std::vector<ProgressFigures>& progress, uint64_t size) {
    ASSERT_FALSE(progress.empty());
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i].received, progress[i - 1].received) << "progress message " << i;
    EXPECT_EQ(progress.back().received, size);
    EXPECT_EQ(progress.back().total, static_cast<int64_t>(size));
}

std::string Range(uint64_t from) {
    return "bytes=" + std::to_string(from) + "-";
}

TEST(TransferResume, ContinuesOrStartsOverAsTheServerAnswers) {
    const std::string body = PatternBody(kBody);
    std::string changed = PatternBody(kBody + 3);
    std::reverse(changed.begin(), changed.end());
    const std::string v1 = "\"v1\"";
    const uint64_t at30 = kBody * 3 / 10;
    const uint64_t at60 = kBody * 6 / 10;
    const uint64_t at90 = kBody * 9 / 10;
    struct Case {
        const char* name;
        std::vector<Rule> script;
        std::vector<Request> expected;
        const std::string* result;
    };
    const Case cases[] = {
        {"dropped at 30 %",
         {Rule::DropAfter(at30)},
         {{"", "", 200}, {Range(at30), v1, 206}},
         &body},
        {"dropped at 60 %",
         {Rule::DropAfter(at60)},
         {{"", "", 200}, {Range(at60), v1, 206}},
         &body},
        {"dropped at 90 %",
         {Rule::DropAfter(at90)},
         {{"", "", 200}, {Range(at90), v1, 206}},
         &body},
        {"dropped twice",
         {Rule::DropAfter(at30), Rule::DropAfter(at60 - at30)},
         {{"", "", 200}, {Range(at30), v1, 206}, {Range(at60), v1, 206}},
         &body},
        {"ranges ignored: starts over",
         {Rule::DropAfter(at60), Rule::IgnoringRange()},
         {{"", "", 200}, {Range(at60), v1, 200}},
         &body},
        {"file changed between attempts: starts over with the new file",
         {Rule::DropAfter(at60), Rule::Replacing(changed)},
         {{"", "", 200}, {Range(at60), v1, 200}},
         &changed},
        {"416 to the range: starts over",
         {Rule::DropAfter(at30), Rule::Answering416()},
         {{"", "", 200}, {Range(at30), v1, 416}, {"", "", 200}},
         &body},
        {"a range that does not continue the file: starts over",
         {Rule::DropAfter(at30), Rule::AnsweringWrongRange()},
         {{"", "", 200}, {Range(at30), v1, 206}, {"", "", 200}},
         &body},
        {"three drops in a row, two without bytes, then success",
         {Rule::DropAfter(at30), Rule::DropAfter(0), Rule::DropAfter(0)},
         {{"", "", 200}, {Range(at30), v1, 206}, {Range(at30), v1, 206}, {Range(at30), v1, 206}},
         &body},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(body, c.script);
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";

        const Outcome outcome = Download(server.Url(), target, OneConnection());

        ASSERT_TRUE(outcome.end.has_value());
        EXPECT_EQ(outcome.end->id, WM_DNLD_FINISHED);
        EXPECT_EQ(ReadFileIfPresent(target), *c.result);
        EXPECT_EQ(server.Requests(), c.expected);
        ExpectSteadyProgress(outcome.progress, c.result->size());
        EXPECT_EQ(TemporaryFilesFor(target), std::vector<std::string>{});
    }
}

// The validator for If-Range: a strong ETag, else Last-Modified (a weak ETag cannot guard a
// range); with neither, a range could join two versions, so the file is fetched from the start.
TEST(TransferResume, GuardsTheRangeWithTheValidatorTheServerGave) {
    using Validators = RangeServer::Validators;
    const std::string body = PatternBody(kBody);
    const uint64_t at = kBody / 3;
    struct Case {
        const char* name;
        Validators validators;
        std::vector<Request> expected;
    };
    const Case cases[] = {
        {"strong ETag", Validators::StrongETag, {{"", "", 200}, {Range(at), "\"v1\"", 206}}},
        {"weak ETag and Last-Modified",
         Validators::WeakETagAndLastModified,
         {{"", "", 200}, {Range(at), "Mon, 01 Dec 2026 10:00:00 GMT", 206}}},
        {"no validator", Validators::None, {{"", "", 200}, {"", "", 200}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(body, {Rule::DropAfter(at)}, {.validators = c.validators});
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";

        const Outcome outcome = Download(server.Url(), target, OneConnection());

        ASSERT_TRUE(outcome.end.has_value());
        EXPECT_EQ(outcome.end->id, WM_DNLD_FINISHED);
        EXPECT_EQ(ReadFileIfPresent(target), body);
        EXPECT_EQ(server.Requests(), c.expected);
        ExpectSteadyProgress(outcome.progress, kBody);
    }
}

// Four drops in a row (three of them bringing nothing) end the job with "network"; the part is
// kept, and a new job for the same URL and file continues it.
TEST(TransferResume, AfterTheLastRetryThePartIsKeptAndAPageRetryContinuesIt) {
    const std::string body = PatternBody(kBody);
    const uint64_t at = kBody / 2;
    RangeServer server(
        body, {Rule::DropAfter(at), Rule::DropAfter(0), Rule::DropAfter(0), Rule::DropAfter(0)});
    TempFolder folder;
    const fs::path target = folder.path() / "setup.exe";

    Outcome failed = Download(server.Url(), target, OneConnection());

    ASSERT_TRUE(failed.end.has_value());
    EXPECT_EQ(failed.end->id, WM_DNLD_FAILED);
    EXPECT_EQ(failed.end->wParam, static_cast<uint64_t>(DownloadFailure::Network));
    EXPECT_EQ(server.Requests().size(), 4u);
    ASSERT_TRUE(failed.partial.has_value());
    EXPECT_EQ(failed.partial->held(), at);
    EXPECT_EQ(TemporaryFilesFor(target).size(), 1u);
    EXPECT_FALSE(fs::exists(target));

    const Outcome retried =
        Download(server.Url(), target, OneConnection(), 0ms, RealSystem(),
                 [&](TransferJob& job) { job.ResumeFrom(std::move(*failed.partial)); });

    ASSERT_TRUE(retried.end.has_value());
    EXPECT_EQ(retried.end->id, WM_DNLD_FINISHED);
    EXPECT_EQ(ReadFileIfPresent(target), body);
    EXPECT_EQ(server.Requests().back(), (Request{Range(at), "\"v1\"", 206}));
    EXPECT_EQ(TemporaryFilesFor(target), std::vector<std::string>{});
}

// A range gives up after three attempts in a row without meaningful progress (here 256 KiB), and
// a download after its budget of retries; an attempt that brought bytes is retried at once, and
// nothing waits once the last answer is in. Limits that would show a wait are set to a minute.
TEST(TransferRetries, EndOnlyWithoutProgressOrBudgetAndWaitForNothingElse) {
    const std::string body = PatternBody(kBody);
    const std::vector<Rule> fewBytesEach(40, Rule::DropAfter(1000));
    const std::vector<Rule> progressEach(3, Rule::DropAfter(300'000));
    struct Case {
        const char* name;
        std::vector<Rule> script;
        std::function<void(TransferLimits&)> limit;
        // What the download ended as, after how many requests.
        uint32_t end;
        size_t requests;
    };
    const Case cases[] = {
        {"every connection drops after a few bytes", fewBytesEach, {}, WM_DNLD_FAILED, 3},
        {"every connection drops after meaningful progress", progressEach, {}, WM_DNLD_FINISHED, 4},
        {"the budget of retries runs out", progressEach,
         [](TransferLimits& limits) { limits.retryBudget = 2; }, WM_DNLD_FAILED, 3},
        {"a drop that brought bytes is retried at once",
         {Rule::DropAfter(1000)},
         [](TransferLimits& limits) { limits.retryBackoff = 60s; },
         WM_DNLD_FINISHED,
         2},
        {"the last answer ends the wait",
         {},
         [](TransferLimits& limits) { limits.longestWait = 60s; },
         WM_DNLD_FINISHED,
         1},
    };
    for (const Case& c : cases) {
        for (const int connections : {1, 4}) {
            SCOPED_TRACE(::testing::Message() << c.name << ", " << connections << " connections");
            RangeServer server(body, c.script);
            TempFolder folder;
            const fs::path target = folder.path() / "setup.exe";
            TransferLimits limits = TestLimits();
            limits.connections = connections;
            if (c.limit)
                c.limit(limits);

            const Outcome outcome = Download(server.Url(), target, limits);

            ASSERT_TRUE(outcome.end.has_value()) << "nothing within the fixture's patience";
            EXPECT_EQ(outcome.end->id, c.end);
            EXPECT_EQ(server.Requests().size(), c.requests);
            EXPECT_LT(outcome.elapsed, 30s) << "something waited";
        }
    }
}

// A kept part goes with its holder, and a job for another URL does not take it.
TEST(TransferResume, APartForAnotherUrlIsDeletedNotContinued) {
    const std::string body = PatternBody(kBody);
    RangeServer first(
        body, {Rule::DropAfter(1000), Rule::DropAfter(0), Rule::DropAfter(0), Rule::DropAfter(0)});
    RangeServer second(body, {});
    TempFolder folder;
    const fs::path target = folder.path() / "setup.exe";
    Outcome failed = Download(first.Url(), target, OneConnection());
    ASSERT_TRUE(failed.partial.has_value());

    const Outcome other =
        Download(second.Url(), target, OneConnection(), 0ms, RealSystem(),
                 [&](TransferJob& job) { job.ResumeFrom(std::move(*failed.partial)); });

    ASSERT_TRUE(other.end.has_value());
    EXPECT_EQ(other.end->id, WM_DNLD_FINISHED);
    EXPECT_EQ(second.Requests(), (std::vector<Request>{{"", "", 200}}));
    EXPECT_EQ(ReadFileIfPresent(target), body);
    EXPECT_EQ(TemporaryFilesFor(target), std::vector<std::string>{});
}

TEST(TransferConnections, LargeFilesComeInRangesAndSmallOrUnrangedOnesInOne) {
    constexpr uint64_t kLarge = 4 * 1024 * 1024;
    constexpr uint64_t kShare = kLarge / 4;
    const std::string body = PatternBody(kLarge);
    const std::string v1 = "\"v1\"";
    const auto piece = [](uint64_t from, uint64_t to) {
        return "bytes=" + std::to_string(from) + "-" + std::to_string(to - 1);
    };
    struct Case {
        const char* name;
        std::vector<Rule> script;
        bool ranges;
        std::vector<Request> expected; // in order of the range asked for
        // The body bytes the server sent, where they are known exactly.
        std::optional<uint64_t> sent = std::nullopt;
    };
    const Case cases[] = {
        {"four ranges",
         {},
         true,
         {{"bytes=0-", "", 206},
          {piece(kShare, 2 * kShare), v1, 206},
          {piece(2 * kShare, 3 * kShare), v1, 206},
          {piece(3 * kShare, kLarge), v1, 206}}},
        {"one range dropped mid-way is continued on its own",
         {Rule::DropAfter(100'000, 2 * kShare)},
         true,
         {{"bytes=0-", "", 206},
          {piece(kShare, 2 * kShare), v1, 206},
          {piece(2 * kShare, 3 * kShare), v1, 206},
          {piece(2 * kShare + 100'000, 3 * kShare), v1, 206},
          {piece(3 * kShare, kLarge), v1, 206}}},
        {"server without ranges", {}, false, {{"bytes=0-", "", 200}}},
        // The first answer covers the whole file; it breaks where the first range ends, which
        // holds all its bytes then, so nothing is asked again and nothing starts over.
        {"the first range's connection dropped at its end",
         {Rule::DropAfter(kShare, 0)},
         true,
         {{"bytes=0-", "", 206},
          {piece(kShare, 2 * kShare), v1, 206},
          {piece(2 * kShare, 3 * kShare), v1, 206},
          {piece(3 * kShare, kLarge), v1, 206}},
         kLarge},
    };
    TransferLimits limits = TestLimits();
    limits.splitFrom = 1024 * 1024;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(body, c.script, {.ranges = c.ranges});
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";

        const Outcome outcome = Download(server.Url(), target, limits);

        ASSERT_TRUE(outcome.end.has_value());
        EXPECT_EQ(outcome.end->id, WM_DNLD_FINISHED);
        EXPECT_EQ(ReadFileIfPresent(target), body);
        std::vector<Request> requests = server.Requests();
        std::sort(requests.begin(), requests.end(), [](const Request& a, const Request& b) {
            const auto start = [](const std::string& range) {
                return range.empty() ? 0 : std::stoull(range.substr(6));
            };
            return start(a.range) < start(b.range);
        });
        EXPECT_EQ(requests, c.expected);
        ExpectSteadyProgress(outcome.progress, kLarge);
        if (c.sent) {
            EXPECT_EQ(server.BodyBytesSent(), *c.sent);
        }
    }
}

// When one range runs out of retries the page hears "network"; what every range held is kept,
// and the page's retry asks only for what each range still misses, each on its own connection.
TEST(TransferConnections, APageRetryKeepsEveryRangesBytesAndItsConnections) {
    constexpr uint64_t kLarge = 4 * 1024 * 1024;
    constexpr uint64_t kShare = kLarge / 4;
    const std::string body = PatternBody(kLarge);
    const uint64_t broken = 2 * kShare + 100'000;
    RangeServer server(body, {Rule::DropAfter(100'000, 2 * kShare), Rule::DropAfter(0, broken),
                              Rule::DropAfter(0, broken)});
    TempFolder folder;
    const fs::path target = folder.path() / "setup.exe";
    TransferLimits limits = TestLimits();
    limits.splitFrom = 1024 * 1024;

    Outcome failed = Download(server.Url(), target, limits);

    ASSERT_TRUE(failed.end.has_value());
    EXPECT_EQ(failed.end->id, WM_DNLD_FAILED);
    ASSERT_TRUE(failed.partial.has_value());
    ASSERT_EQ(failed.partial->ranges.size(), 4u);
    // The other ranges may or may not have finished meanwhile; the broken one holds what came.
    EXPECT_EQ(failed.partial->ranges[2], (PartialDownload::Range{2 * kShare, broken, 3 * kShare}));
    std::vector<Request> missing;
    for (size_t i = 0; i < 4; ++i) {
        const PartialDownload::Range& range = failed.partial->ranges[i];
        EXPECT_EQ(range.start, i * kShare);
        EXPECT_EQ(range.end, i == 3 ? kLarge : (i + 1) * kShare);
        if (range.next < *range.end) {
            missing.push_back(
                {"bytes=" + std::to_string(range.next) + "-" + std::to_string(*range.end - 1),
                 "\"v1\"", 206});
        }
    }
    const size_t requestsBefore = server.Requests().size();

    const Outcome retried =
        Download(server.Url(), target, limits, 0ms, RealSystem(),
                 [&](TransferJob& job) { job.ResumeFrom(std::move(*failed.partial)); });

    ASSERT_TRUE(retried.end.has_value());
    EXPECT_EQ(retried.end->id, WM_DNLD_FINISHED);
    EXPECT_EQ(ReadFileIfPresent(target), body);
    std::vector<Request> asked = server.Requests();
    asked.erase(asked.begin(), asked.begin() + static_cast<long>(requestsBefore));
    std::sort(asked.begin(), asked.end(),
              [](const Request& a, const Request& b) { return a.range < b.range; });
    std::sort(missing.begin(), missing.end(),
              [](const Request& a, const Request& b) { return a.range < b.range; });
    EXPECT_EQ(asked, missing);
    EXPECT_EQ(TemporaryFilesFor(target), std::vector<std::string>{});
}

// With one connection the hash is taken as the bytes are written; with several, the ranges
// written out of order are read back. Either way a wrong hash fails with "verify" and leaves
// nothing, not even a kept part.
TEST(TransferIntegrity, TheFileMustHaveTheHashThePageGave) {
    const std::string body = PatternBody(4 * 1024 * 1024);
    Sha256 sha;
    sha.Update(body);
    const Sha256Digest right = *sha.Finish();
    Sha256Digest wrong = right;
    wrong[31] ^= 1;
    struct Case {
        const char* name;
        int connections;
        std::vector<Rule> script;
        const Sha256Digest* digest;
        std::optional<DownloadFailure> failure;
    };
    const Case cases[] = {
        {"one connection, right hash", 1, {}, &right, std::nullopt},
        {"one connection, resumed, right hash",
         1,
         {Rule::DropAfter(300'000)},
         &right,
         std::nullopt},
        {"four connections, right hash", 4, {}, &right, std::nullopt},
        {"one connection, wrong hash", 1, {}, &wrong, DownloadFailure::Verify},
        {"four connections, wrong hash", 4, {}, &wrong, DownloadFailure::Verify},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(body, c.script);
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";
        TransferLimits limits = TestLimits();
        limits.connections = c.connections;
        limits.splitFrom = 1024 * 1024;

        const Outcome outcome = Download(server.Url(), target, limits, 0ms, RealSystem(),
                                         [&](TransferJob& job) { job.ExpectSha256(*c.digest); });

        ASSERT_TRUE(outcome.end.has_value());
        if (c.failure) {
            EXPECT_EQ(outcome.end->id, WM_DNLD_FAILED);
            EXPECT_EQ(outcome.end->wParam, static_cast<uint64_t>(*c.failure));
            EXPECT_FALSE(outcome.partial.has_value());
            EXPECT_FALSE(fs::exists(target));
        } else {
            EXPECT_EQ(outcome.end->id, WM_DNLD_FINISHED);
            EXPECT_EQ(ReadFileIfPresent(target), body);
        }
        EXPECT_EQ(TemporaryFilesFor(target), std::vector<std::string>{});
    }
}

// Test vectors from the SHA-2 standard's examples, fed in pieces of several sizes.
TEST(Sha256, MatchesTheStandardsExamples) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        for (const size_t step : {size_t{1}, size_t{7}, size_t{65536}}) {
            SCOPED_TRACE(::testing::Message() << c.input.size() << " bytes in " << step);
            Sha256 sha;
            for (size_t i = 0; i < c.input.size(); i += step)
                sha.Update(std::string_view(c.input).substr(i, step));
            EXPECT_EQ(sha.Finish(), ParseSha256(c.digest));
        }
    }
}

TEST(Sha256, AcceptsOnlySixtyFourHexDigits) {
    const std::string good(64, 'a');
    EXPECT_TRUE(ParseSha256(good));
    EXPECT_TRUE(ParseSha256(std::string(64, 'F')));
    for (const std::string& bad : {std::string(), good.substr(1), good + "a", "g" + good.substr(1),
                                   " " + good.substr(1), "0x" + good.substr(2)})
        EXPECT_FALSE(ParseSha256(bad)) << '"' << bad << '"';
}

} // namespace
} // namespace tarvik::download::testing
