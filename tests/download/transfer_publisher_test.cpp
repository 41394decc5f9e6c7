#include "transfer_fixture.h"

#include "common/download_failure.h"
#include "platform/headless/headless_system.h"

#include <gtest/gtest.h>

namespace tarvik::download::testing {
namespace {

namespace fs = std::filesystem;
using platform::PublisherCheck;

// Everything a download that must carry the publisher's code signature leaves: how it ended,
// what is under the final name, the temporary files beside it, the order of the download file's
// check, origin record and commit, and what the step log says of the publisher.
struct Observed {
    std::optional<uint32_t> end;
    std::optional<uint64_t> reason;
    bool saved = false;
    std::vector<std::string> leftovers;
    std::vector<std::string> calls;
    std::vector<std::string> log;
    bool operator==(const Observed&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Observed& o) {
        out << "{end " << (o.end ? std::to_string(*o.end) : "none") << ", reason "
            << (o.reason ? std::to_string(*o.reason) : "none") << ", saved " << o.saved << ", "
            << o.leftovers.size() << " leftovers, calls";
        for (const auto& call : o.calls)
            out << " [" << call << ']';
        out << ", log";
        for (const auto& line : o.log)
            out << " [" << line << ']';
        return out << '}';
    }
};

// The system's answer decides: only a signature it accepts, by the built-in publisher, lets the
// file be put under its name; every other answer fails the download with "verify" and leaves
// nothing behind. The check is made once, after every byte is in and before the file is put in
// place, and not at all when no publisher is required.
TEST(TransferPublisher, OnlyAFileTheSystemTrustsAsThePublishersIsFinished) {
    const std::string publisher = "Tarvik Test Vendor";
    const std::string body = PatternBody(kSizedBody);
    const std::vector<std::string> afterTheCheck{"CheckPublisher " + publisher, "RecordOriginUrl",
                                                 "Commit"};
    const auto refused = [&](PublisherCheck check) {
        return Observed{WM_DNLD_FAILED,
                        static_cast<uint64_t>(DownloadFailure::Verify),
                        false,
                        {},
                        {"CheckPublisher " + publisher},
                        {std::string("download: publisher: ") + PublisherCheckText(check)}};
    };
    struct Case {
        const char* name = "";
        bool required = false;
        PublisherCheck answer = PublisherCheck::Unavailable;
        Observed expected;
    };
    const Case cases[] = {
        {"signed by the publisher",
         true,
         PublisherCheck::Trusted,
         {WM_DNLD_FINISHED,
          0,
          true,
          {},
          afterTheCheck,
          {"download: publisher: signed by the built-in publisher"}}},
        {"unsigned", true, PublisherCheck::Unsigned, refused(PublisherCheck::Unsigned)},
        {"changed after signing", true, PublisherCheck::Tampered,
         refused(PublisherCheck::Tampered)},
        {"untrusted", true, PublisherCheck::Untrusted, refused(PublisherCheck::Untrusted)},
        {"another publisher", true, PublisherCheck::PublisherMismatch,
         refused(PublisherCheck::PublisherMismatch)},
        {"the check could not be made", true, PublisherCheck::Unavailable,
         refused(PublisherCheck::Unavailable)},
        {"no publisher required",
         false,
         PublisherCheck::Unsigned,
         {WM_DNLD_FINISHED, 0, true, {}, {"RecordOriginUrl", "Commit"}, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(body, {});
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";
        platform::headless::HeadlessSystem system;
        system.AnswerPublisherCheck(c.answer);
        LogLines log;

        const Outcome outcome =
            Download(server.Url(), target, TestLimits(), {}, system, [&](TransferJob& job) {
                if (c.required)
                    job.RequirePublisher(publisher);
            });

        Observed observed;
        if (outcome.end) {
            observed.end = outcome.end->id;
            observed.reason = outcome.end->wParam;
        }
        observed.saved = ReadFileIfPresent(target) == body;
        observed.leftovers = TemporaryFilesFor(target);
        for (const auto& call : system.Calls()) {
            if (call.operation == "DownloadFile::CheckPublisher")
                observed.calls.push_back("CheckPublisher " + call.argument);
            else if (call.operation == "DownloadFile::RecordOriginUrl")
                observed.calls.emplace_back("RecordOriginUrl");
            else if (call.operation == "DownloadFile::Commit")
                observed.calls.emplace_back("Commit");
        }
        observed.log = log.Starting("download: publisher: ");
        EXPECT_EQ(observed, c.expected);
    }
}

} // namespace
} // namespace tarvik::download::testing
