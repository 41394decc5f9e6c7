#include "transfer_fixture.h"

#include "common/download_failure.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarvik::download::testing {
namespace {

namespace fs = std::filesystem;
using Rule = RangeServer::Rule;
using Request = RangeServer::Request;

constexpr size_t kBody = 1024 * 1024;

std::string Range(uint64_t from) {
    return "bytes=" + std::to_string(from) + "-";
}

// What a download ended as, in terms of the versions the server had.
struct Seen {
    uint32_t end = 0;
    std::optional<DownloadFailure> failure;
    // Which version of the file the target holds (its index in the server's versions); -1 for
    // bytes of no single version; none when there is no target.
    std::optional<int> version;
    std::vector<std::string> temporaryFiles;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    out << "{end 0x" << std::hex << s.end << std::dec << ", failure "
        << (s.failure ? static_cast<int>(*s.failure) : 0) << ", version ";
    if (s.version)
        out << *s.version;
    else
        out << "none";
    return out << ", " << s.temporaryFiles.size() << " temporary files}";
}

Seen Observe(const Outcome& outcome, const RangeServer& server, const fs::path& target) {
    Seen seen;
    seen.end = outcome.end ? outcome.end->id : 0;
    if (outcome.end && outcome.end->id == WM_DNLD_FAILED)
        seen.failure = static_cast<DownloadFailure>(outcome.end->wParam);
    if (const auto bytes = ReadFileIfPresent(target)) {
        const auto versions = server.Versions();
        const auto found = std::find(versions.begin(), versions.end(), *bytes);
        seen.version = found == versions.end() ? -1 : static_cast<int>(found - versions.begin());
    }
    seen.temporaryFiles = TemporaryFilesFor(target);
    return seen;
}

Seen Finished(int version) {
    return {WM_DNLD_FINISHED, std::nullopt, version, {}};
}

Seen Failed(DownloadFailure failure) {
    return {WM_DNLD_FAILED, failure, std::nullopt, {}};
}

// Whatever the server answers, a finished download is exactly one version of the file, byte for
// byte: a range of another version is never put after the bytes held (a server or cache that
// honours Range but not If-Range sends one after the file changed), and a range is complete only
// when its bytes reach its end, so a short or empty answer is asked again from where it stopped.
// An answer without content is no installer.
TEST(TransferVersions, AFinishedFileIsOneVersionWhateverTheServerAnswers) {
    const std::string body = PatternBody(kBody);
    // The same length, other bytes: two builds that share their length (and, by date, their
    // modification time) are still told apart by the validator.
    std::string changed = body;
    std::reverse(changed.begin(), changed.end());
    const std::string v1 = "\"v1\"";
    const uint64_t half = kBody / 2;
    Rule emptyWholeFile = Rule::IgnoringRange();
    emptyWholeFile.emptyBody = true;
    using Options = RangeServer::Options;
    const Options ignoresIfRange{.honoursIfRange = false};
    struct Case {
        const char* name;
        int connections;
        Options options;
        std::vector<Rule> script;
        Seen expected;
        // Compared when not empty (one connection asks in a fixed order).
        std::vector<Request> requests = {};
        bool withHash = false;
        // Whether a file of this size is fetched in several ranges.
        bool split = true;
    };
    const std::vector<Case> cases = {
        {"four ranges, the file changes after the first answer, If-Range ignored",
         4,
         ignoresIfRange,
         {Rule{}, Rule::Replacing(changed)},
         Finished(1)},
        {"resumed, the file changed, If-Range ignored",
         1,
         ignoresIfRange,
         {Rule::DropAfter(100'000), Rule::Replacing(changed)},
         Finished(1),
         {{"", "", 200}, {Range(100'000), v1, 206}, {"", "", 200}}},
        {"resumed, the file changed, If-Range ignored, validated by date",
         1,
         {.validators = RangeServer::Validators::WeakETagAndLastModified, .honoursIfRange = false},
         {Rule::DropAfter(100'000), Rule::Replacing(changed)},
         Finished(1)},
        {"resumed, the range comes without the validator",
         1,
         {},
         {Rule::DropAfter(100'000), Rule::WithoutValidator()},
         Finished(0),
         {{"", "", 200}, {Range(100'000), v1, 206}, {"", "", 200}}},
        {"the first range ends cleanly at half the file",
         4,
         {},
         {Rule::EndingCleanlyAfter(half)},
         Finished(0),
         {{"bytes=0-", "", 206}, {Range(half), v1, 206}},
         false,
         false},
        {"resumed, the range ends cleanly short",
         1,
         {},
         {Rule::DropAfter(100'000), Rule::EndingCleanlyAfter(100'000)},
         Finished(0),
         {{"", "", 200}, {Range(100'000), v1, 206}, {Range(200'000), v1, 206}}},
        {"resumed, the range ends cleanly short, with a hash",
         1,
         {},
         {Rule::DropAfter(100'000), Rule::EndingCleanlyAfter(100'000)},
         Finished(0),
         {{"", "", 200}, {Range(100'000), v1, 206}, {Range(200'000), v1, 206}},
         true},
        {"resumed, an empty range",
         1,
         {},
         {Rule::DropAfter(100'000), Rule::WithEmptyBody()},
         Finished(0),
         {{"", "", 200}, {Range(100'000), v1, 206}, {Range(100'000), v1, 206}}},
        {"resumed, an empty whole file of the same version",
         1,
         {},
         {Rule::DropAfter(100'000), emptyWholeFile},
         Finished(0),
         {{"", "", 200}, {Range(100'000), v1, 200}, {"", "", 200}}},
        {"resumed, 204",
         1,
         {},
         {Rule::DropAfter(100'000), Rule::Answering204()},
         Failed(DownloadFailure::Http)},
        {"204 at once",
         4,
         {},
         {Rule::Answering204()},
         Failed(DownloadFailure::Http),
         {{"bytes=0-", "", 204}}},
    };
    Sha256 sha;
    sha.Update(body);
    const Sha256Digest digest = *sha.Finish();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(body, c.script, c.options);
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";
        TransferLimits limits = TestLimits();
        limits.connections = c.connections;
        limits.splitFrom = c.split ? kBody / 4 : kBody * 2;

        const Outcome outcome =
            Download(server.Url(), target, limits, {}, RealSystem(), [&](TransferJob& job) {
                if (c.withHash)
                    job.ExpectSha256(digest);
            });

        EXPECT_EQ(Observe(outcome, server, target), c.expected);
        if (!c.requests.empty()) {
            EXPECT_EQ(server.Requests(), c.requests);
        }
    }
}

} // namespace
} // namespace tarvik::download::testing
