#include "transfer_fixture.h"

#include "common/download_failure.h"
#include "platform/headless/headless_system.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <fstream>
#else
#include <sys/resource.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <array>
#include <csignal>

namespace tarvik::download::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kPrevious = "the installer downloaded last week";

#ifdef _WIN32
// On Windows the origin is the Mark of the Web: the HostUrl line of the Zone.Identifier stream.
std::optional<std::string> OriginAttribute(const fs::path& path) {
    std::ifstream in(fs::path(path.native() + L":Zone.Identifier"), std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.ends_with('\r'))
            line.pop_back();
        if (line.starts_with("HostUrl="))
            return line.substr(8);
    }
    return std::nullopt;
}

bool FolderKeepsExtendedAttributes(const fs::path&) {
    return true;
}
#else
std::optional<std::string> OriginAttribute(const fs::path& path) {
    std::array<char, 4096> value{};
    const ssize_t size =
        ::getxattr(path.c_str(), "user.xdg.origin.url", value.data(), value.size());
    if (size < 0)
        return std::nullopt;
    return std::string(value.data(), static_cast<size_t>(size));
}

bool FolderKeepsExtendedAttributes(const fs::path& folder) {
    const fs::path probe = folder / "probe";
    WriteFileBytes(probe, "x");
    const bool kept = ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
    fs::remove(probe);
    return kept;
}
#endif

enum class Progress {
    None,      // no installer bytes at all
    BytesOnly, // no length: the bytes so far, with a total of 0
    Complete,  // along the way, ending with the full size
    Partial,   // some before the transfer broke off
};

void ExpectProgress(const std::vector<ProgressFigures>& progress, Progress expected,
                    uint64_t size) {
    if (expected == Progress::None) {
        EXPECT_TRUE(progress.empty());
        return;
    }
    ASSERT_FALSE(progress.empty());
    for (size_t i = 0; i < progress.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "progress message " << i);
        EXPECT_EQ(progress[i].total,
                  expected == Progress::BytesOnly ? 0 : static_cast<int64_t>(size));
        EXPECT_GT(progress[i].received, 0u);
        EXPECT_LE(progress[i].received, size);
        if (i > 0) {
            EXPECT_GE(progress[i].received, progress[i - 1].received);
        }
    }
    if (expected == Progress::Complete) {
        EXPECT_EQ(progress.back().received, size);
    } else if (expected == Progress::Partial) {
        EXPECT_LT(progress.back().received, size);
    }
}

struct OutcomeCase {
    const char* name;
    std::string url;
    std::optional<DownloadFailure> failure; // none: the transfer completes
    Progress progress = Progress::None;
    std::string finalUrl = {};              // recorded as the file's origin
    std::vector<std::string> answered = {}; // paths the server answered, when it matters
};

class TransferOutcome : public ::testing::Test {
protected:
    ScriptedServer server;
    TempFolder folder;
};

TEST_F(TransferOutcome, EndsWithTheRightMessageAndLeavesOnlyCompleteFiles) {
    const std::string body = PatternBody(kSizedBody);
    const bool attributes = FolderKeepsExtendedAttributes(folder.path());
    const std::string unreachable = RefusedLoopbackUrl("/setup.exe");
    const std::vector<OutcomeCase> cases = {
        {"content length", server.Url("/sized"), std::nullopt, Progress::Complete,
         server.Url("/sized")},
        {"no content length", server.Url("/chunked"), std::nullopt, Progress::BytesOnly,
         server.Url("/chunked")},
        {"credentials are left out of the recorded origin",
         "http://user:secret@" + server.Url("/sized").substr(7), std::nullopt, Progress::Complete,
         server.Url("/sized")},
        {"redirect chain",
         server.Url("/hop/3"),
         std::nullopt,
         Progress::Complete,
         server.Url("/sized"),
         {"/hop/3", "/hop/2", "/hop/1", "/hop/0", "/sized"}},
        {"error status", server.Url("/missing"), DownloadFailure::Http},
        {"final answer is no success", server.Url("/not-modified"), DownloadFailure::Http},
        {"too many redirects",
         server.Url("/loop"),
         DownloadFailure::Http,
         Progress::None,
         {},
         std::vector<std::string>(6, "/loop")},
        {"redirect to a file: URL", server.Url("/to-file"), DownloadFailure::Http},
        {"file: URL", "file:///etc/passwd", DownloadFailure::Http},
        {"connection dropped mid-body", server.Url("/dropped"), DownloadFailure::Network,
         Progress::Partial},
        {"stalled answer", server.Url("/stalled"), DownloadFailure::Network, Progress::Partial},
        {"unreachable port", unreachable, DownloadFailure::Network},
    };
    for (const auto& c : cases) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << c.name << (existing ? ", over an existing file" : ""));
            const fs::path target = folder.path() / (existing ? "old.exe" : "new.exe");
            fs::remove(target);
            if (existing)
                WriteFileBytes(target, kPrevious);
            // A file of the user's that once was the temporary file's name.
            const fs::path usersPart = fs::path(target) += ".part";
            WriteFileBytes(usersPart, "the user's own file");
            const size_t answeredBefore = server.AnsweredPaths().size();

            const Outcome outcome = Download(c.url, target, TestLimits());

            ASSERT_TRUE(outcome.end.has_value()) << "no finished or failed message";
            EXPECT_FALSE(outcome.anythingAfterEnd);
            EXPECT_EQ(TemporaryFilesFor(target), std::vector<std::string>{});
            EXPECT_EQ(ReadFileIfPresent(usersPart), "the user's own file");
            if (c.failure) {
                EXPECT_EQ(outcome.end->id, WM_DNLD_FAILED);
                EXPECT_EQ(outcome.end->wParam, static_cast<uint64_t>(*c.failure));
                EXPECT_EQ(ReadFileIfPresent(target),
                          existing ? std::optional(kPrevious) : std::nullopt);
            } else {
                EXPECT_EQ(outcome.end->id, WM_DNLD_FINISHED);
                EXPECT_EQ(ReadFileIfPresent(target), body);
                if (attributes) {
                    EXPECT_EQ(OriginAttribute(target), c.finalUrl);
                }
            }
            ExpectProgress(outcome.progress, c.progress, c.failure ? kPartialSize : body.size());
            if (!c.answered.empty()) {
                const auto answered = server.AnsweredPaths();
                EXPECT_EQ(std::vector(answered.begin() + static_cast<long>(answeredBefore),
                                      answered.end()),
                          c.answered);
            }
        }
    }
}

// The library refuses a redirect limit below -1; the transfer must then fail before asking
// anything instead of running without the rule the option carries.
TEST_F(TransferOutcome, ARefusedRuleFailsBeforeAnyRequest) {
    TransferLimits limits = TestLimits();
    limits.maxRedirects = -2;
    const fs::path target = folder.path() / "setup.exe";

    const Outcome outcome = Download(server.Url("/sized"), target, limits);

    ASSERT_TRUE(outcome.end.has_value());
    EXPECT_EQ(outcome.end->id, WM_DNLD_FAILED);
    EXPECT_EQ(outcome.end->wParam, static_cast<uint64_t>(DownloadFailure::Network));
    EXPECT_TRUE(server.AnsweredPaths().empty());
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(fs::path(target) += ".part"));
}

// Starting over cuts the file back, which frees the room set aside for it; the room for the new
// answer's length is set aside again, so a disk too full for it still fails the download at once.
TEST_F(TransferOutcome, RoomIsSetAsideAgainAfterAStartOver) {
    using Rule = RangeServer::Rule;
    const std::string body = PatternBody(kSizedBody);
    const std::string longer = PatternBody(kSizedBody + 1000);
    const std::string size = std::to_string(body.size());
    const std::string longerSize = std::to_string(longer.size());
    struct Case {
        const char* name;
        RangeServer::Options options;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        // The new version comes as the answer to the continuation, and replaces the file.
        {"the file changed, If-Range honoured",
         {},
         {"Reserve " + size, "Discard", "Reserve " + longerSize}},
        // The range of the new version is refused, and the file is fetched again.
        {"the file changed, If-Range ignored",
         {.honoursIfRange = false},
         {"Reserve " + size, "Discard", "Reserve " + longerSize}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer files(body, {Rule::DropAfter(100'000), Rule::Replacing(longer)}, c.options);
        platform::headless::HeadlessSystem system;
        const fs::path target = folder.path() / "setup.exe";
        TransferLimits limits = TestLimits();
        limits.connections = 1;

        const Outcome outcome = Download(files.Url(), target, limits, {}, system);

        ASSERT_TRUE(outcome.end.has_value());
        EXPECT_EQ(outcome.end->id, WM_DNLD_FINISHED);
        EXPECT_EQ(ReadFileIfPresent(target), longer);
        std::vector<std::string> room;
        for (const auto& call : system.Calls()) {
            if (call.operation == "DownloadFile::Reserve")
                room.emplace_back("Reserve " + call.argument);
            else if (call.operation == "DownloadFile::Discard")
                room.emplace_back("Discard");
        }
        EXPECT_EQ(room, c.expected);
        fs::remove(target);
    }
}

#ifndef _WIN32
// Lowers the largest file this process may write, with SIGXFSZ ignored so that writes past it
// fail with EFBIG as on a full disk; both are restored afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    sighandler_t previousHandler_ = SIG_DFL;
};
#endif

TEST_F(TransferOutcome, AFileThatCannotBeWrittenFailsAsFile) {
    const fs::path readOnly = folder.path() / "read-only";
    fs::create_directory(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    const fs::path occupied = folder.path() / "occupied.exe";
    fs::create_directory(occupied);
    WriteFileBytes(occupied / "keep", kPrevious);

    struct WriteCase {
        const char* name;
        fs::path target;
        bool limitFileSize = false;
    };
    const WriteCase cases[] = {
        {"folder missing", folder.path() / "missing" / "setup.exe"},
        {"folder read-only", readOnly / "setup.exe"},
        {"target name taken by a folder", occupied},
        {"path names a folder", folder.path() / ""},
        {"empty path", fs::path()},
        {"disk full", folder.path() / "setup.exe", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
#ifdef _WIN32
        // Windows has no folder permission bits and no per-process file size limit.
        if (c.target.parent_path() == readOnly || c.limitFileSize) {
            std::cout << "skipped \"" << c.name << "\": no such limit on Windows\n";
            continue;
        }
        std::optional<int> limit;
#else
        if (c.target.parent_path() == readOnly && ::geteuid() == 0) {
            std::cout << "skipped \"" << c.name << "\": root writes into read-only folders\n";
            continue;
        }
        if (c.limitFileSize)
            WriteFileBytes(c.target, kPrevious);
        std::optional<FileSizeLimit> limit;
        if (c.limitFileSize)
            limit.emplace(64 * 1024);
#endif

        const Outcome outcome = Download(server.Url("/sized"), c.target, TestLimits());
        limit.reset();

        ASSERT_TRUE(outcome.end.has_value());
        EXPECT_EQ(outcome.end->id, WM_DNLD_FAILED);
        EXPECT_EQ(outcome.end->wParam, static_cast<uint64_t>(DownloadFailure::File));
        EXPECT_EQ(TemporaryFilesFor(c.target), std::vector<std::string>{});
        if (c.limitFileSize) {
            EXPECT_EQ(ReadFileIfPresent(c.target), kPrevious);
        }
    }
    EXPECT_EQ(ReadFileIfPresent(occupied / "keep"), kPrevious);
}

} // namespace
} // namespace tarvik::download::testing
