#include "transfer_fixture.h"

#include <gtest/gtest.h>

namespace tarvik::download::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The host destroys the job when its window goes away; a stalled server must not hold it up.
TEST(TransferJobLifetime, DestroyingTheJobMidTransferStopsItAndLeavesNoFile) {
    ScriptedServer server;
    TempFolder folder;
    TransferLimits limits = TestLimits();
    limits.lowSpeedTime = 60s; // only the abort can end this transfer soon
    const fs::path target = folder.path() / "setup.exe";
    WriteFileBytes(target, "previous");
    PostedMessages messages;

    auto job = std::make_unique<TransferJob>(RealSystem(), server.Url("/stalled"), target.string(),
                                             limits, messages.Sink());
    ASSERT_TRUE(job->Start());
    // The first bytes are in the temporary file once progress shows them.
    const auto progress = messages.Next(10s);
    ASSERT_TRUE(progress.has_value());
    ASSERT_EQ(progress->id, WM_DL_PROGRESS);
    EXPECT_EQ(TemporaryFilesFor(target).size(), 1u);

    const auto destroying = std::chrono::steady_clock::now();
    job.reset();
    const auto destroyTime = std::chrono::steady_clock::now() - destroying;

    // Far below the transfer's own limit: the abort, not a time-out, ended it.
    EXPECT_LT(destroyTime, 10s);
    EXPECT_EQ(TemporaryFilesFor(target), std::vector<std::string>{});
    EXPECT_EQ(ReadFileIfPresent(target), "previous");
    EXPECT_TRUE(messages.Empty()) << "an aborted transfer reports nothing";
}

} // namespace
} // namespace tarvik::download::testing
