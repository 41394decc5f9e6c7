#include "transfer_fixture.h"

#include "common/download_failure.h"

#include <gtest/gtest.h>

namespace tarvik::download::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Hold = HeldSystem::Hold;

enum class Stop { Cancel, Destroy };

// What a test saw of a job it stopped.
struct Stopped {
    // What Cancel answered; nothing when the job was destroyed instead.
    std::optional<bool> cancelled;
    // The held call was let go by the test, after Cancel or the destructor had returned: neither
    // waited for it.
    bool returnedFirst = false;
    bool workerEnded = false;
    // The messages that came after the stop (progress messages left out where noted).
    std::vector<uint32_t> posted;
    std::vector<std::string> temporaryFiles;
    std::optional<std::string> target;
    bool operator==(const Stopped&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Stopped& s) {
    out << "{cancelled " << (s.cancelled ? (*s.cancelled ? "true" : "false") : "-")
        << ", returned first " << s.returnedFirst << ", worker ended " << s.workerEnded
        << ", posted [";
    for (const uint32_t id : s.posted)
        out << std::hex << "0x" << id << std::dec << ' ';
    out << "], " << s.temporaryFiles.size() << " temporary files, target "
        << (s.target ? std::to_string(s.target->size()) + " bytes" : "missing") << "}";
    return out;
}

// Fills in what comes once the job is gone: whether the held call was released by the test,
// whether the worker ended, what was posted meanwhile, and what is left in the folder.
void ObserveTheEnd(Stopped& seen, const HeldSystem& system, TransferWorkers& workers,
                   PostedMessages& messages, const fs::path& target) {
    seen.returnedFirst = system.ReleasedInTime();
    seen.workerEnded = workers.WaitUntil(Clock::now() + 10s);
    while (const auto message = messages.Next(0ms))
        seen.posted.push_back(message->id);
    seen.temporaryFiles = TemporaryFilesFor(target);
    seen.target = ReadFileIfPresent(target);
}

// Before the point of no return a job stops at once wherever its worker is: in the network wait,
// or in a proxy lookup that takes as long as the test wants. The worker ends in the background,
// posts nothing and removes its temporary file; the user's file under the target's name stays.
TEST(TransferJobStop, BeforeThePointOfNoReturnWaitsForNothingAndLeavesNothing) {
    struct Case {
        const char* name;
        Hold hold;
        const char* path;
        Stop stop;
    };
    const Case cases[] = {
        {"cancelled while the server stalls", Hold::Nothing, "/stalled", Stop::Cancel},
        {"cancelled in a proxy lookup", Hold::ProxyLookups, "/sized", Stop::Cancel},
        {"destroyed while the server stalls", Hold::Nothing, "/stalled", Stop::Destroy},
        {"destroyed in a proxy lookup", Hold::ProxyLookups, "/sized", Stop::Destroy},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";
        WriteFileBytes(target, "previous");
        TransferLimits limits = TestLimits();
        limits.lowSpeedTime = 60s; // only the stop can end a stalled transfer soon
        HeldSystem system(c.hold);
        TransferWorkers workers(system);
        PostedMessages messages;
        auto job = std::make_unique<TransferJob>(workers, server.Url(c.path), target.string(),
                                                 limits, messages.Sink());
        ASSERT_TRUE(job->Start());
        if (c.hold == Hold::ProxyLookups) {
            ASSERT_TRUE(system.WaitUntilHeld(10s));
        } else {
            // The first bytes are in the temporary file once progress shows them.
            const auto progress = messages.Next(10s);
            ASSERT_TRUE(progress.has_value());
            ASSERT_EQ(progress->id, WM_DL_PROGRESS);
            ASSERT_EQ(TemporaryFilesFor(target).size(), 1u);
        }

        Stopped seen;
        if (c.stop == Stop::Cancel)
            seen.cancelled = job->Cancel();
        job.reset();
        system.Release();
        ObserveTheEnd(seen, system, workers, messages, target);

        const Stopped expected{c.stop == Stop::Cancel ? std::optional(true) : std::nullopt,
                               true,
                               true,
                               {},
                               {},
                               "previous"};
        EXPECT_EQ(seen, expected);
    }
}

// Once every byte is in, the outcome is decided: a cancel during a commit that takes 500 ms
// answers false at once and the finished message follows; a job destroyed then waits for nothing
// either, and the commit that began ends with the file in place.
TEST(TransferJobStop, PastThePointOfNoReturnTheOutcomeStandsAndNothingWaits) {
    const std::string body = PatternBody(kSizedBody);
    for (const Stop stop : {Stop::Cancel, Stop::Destroy}) {
        SCOPED_TRACE(stop == Stop::Cancel ? "cancelled" : "destroyed");
        ScriptedServer server;
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";
        HeldSystem system(Hold::Commits, 500ms);
        TransferWorkers workers(system);
        PostedMessages messages;
        auto job = std::make_unique<TransferJob>(workers, server.Url("/sized"), target.string(),
                                                 TestLimits(), messages.Sink());
        ASSERT_TRUE(job->Start());
        ASSERT_TRUE(system.WaitUntilHeld(10s));
        while (messages.Next(0ms)) {
        }

        Stopped seen;
        if (stop == Stop::Cancel) {
            seen.cancelled = job->Cancel();
            system.Release();
            // The outcome is on its way; the job is let go once it is here.
            while (const auto message = messages.Next(10s)) {
                if (message->id != WM_DL_PROGRESS)
                    seen.posted.push_back(message->id);
                if (message->id == WM_DNLD_FINISHED || message->id == WM_DNLD_FAILED)
                    break;
            }
            job.reset();
        } else {
            job.reset();
            system.Release();
        }
        ObserveTheEnd(seen, system, workers, messages, target);

        const Stopped expected{stop == Stop::Cancel ? std::optional(false) : std::nullopt,
                               true,
                               true,
                               stop == Stop::Cancel ? std::vector<uint32_t>{WM_DNLD_FINISHED}
                                                    : std::vector<uint32_t>{},
                               {},
                               body};
        EXPECT_EQ(seen, expected);
    }
}

// A failure that was posted is an outcome as well; a job cancelled before it started never
// starts.
TEST(TransferJobStop, CancelAnswersFalseOnceTheFailureIsPostedAndStopsAJobNotYetStarted) {
    ScriptedServer server;
    TempFolder folder;
    TransferWorkers workers(RealSystem());
    PostedMessages messages;
    TransferJob failed(workers, server.Url("/missing"), (folder.path() / "a.exe").string(),
                       TestLimits(), messages.Sink());
    ASSERT_TRUE(failed.Start());
    const auto end = messages.Next(10s);
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(end->id, WM_DNLD_FAILED);
    EXPECT_FALSE(failed.Cancel());

    TransferJob unstarted(workers, server.Url("/sized"), (folder.path() / "b.exe").string(),
                          TestLimits(), messages.Sink());
    EXPECT_TRUE(unstarted.Cancel());
    EXPECT_FALSE(unstarted.Start());
    EXPECT_TRUE(workers.WaitUntil(Clock::now() + 10s));
    EXPECT_TRUE(messages.Empty());
    EXPECT_EQ(server.AnsweredPaths(), std::vector<std::string>{"/missing"});
}

} // namespace
} // namespace tarvik::download::testing
