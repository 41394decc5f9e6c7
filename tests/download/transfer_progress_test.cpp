#include "transfer_fixture.h"

#include <gtest/gtest.h>

namespace tarvik::download::testing {
namespace {

using namespace std::chrono_literals;

// A transfer long enough for many library callbacks; the host's handler is quick in one case
// and lags behind the worker in the other.
TEST(TransferProgress, StaysWithinOneWaitingMessageAndEndsWithTheFinalFigures) {
    ScriptedServer server;
    TempFolder folder;
    const TransferLimits limits = TestLimits();
    for (const auto handlerDelay : {0ms, 60ms}) {
        SCOPED_TRACE(::testing::Message() << "handler delay " << handlerDelay.count() << " ms");
        const Outcome outcome =
            Download(server.Url("/slow"), folder.path() / "setup.exe", limits, handlerDelay);

        ASSERT_TRUE(outcome.end.has_value());
        EXPECT_EQ(outcome.end->id, WM_DNLD_FINISHED);
        EXPECT_EQ(outcome.mostWaitingProgress, 1);
        ASSERT_FALSE(outcome.progress.empty());
        // One message per interval at most, plus the one that hands over the final figures.
        EXPECT_LE(static_cast<long>(outcome.progress.size()),
                  outcome.elapsed / limits.progressInterval + 2);
        EXPECT_GT(outcome.progress.size(), 2u) << "progress was not reported along the way";
        for (size_t i = 0; i < outcome.progress.size(); ++i) {
            SCOPED_TRACE(::testing::Message() << "progress message " << i);
            EXPECT_EQ(outcome.progress[i].total, static_cast<int64_t>(kSlowBody));
            EXPECT_LE(outcome.progress[i].received, kSlowBody);
            if (i > 0) {
                EXPECT_GE(outcome.progress[i].received, outcome.progress[i - 1].received);
            }
        }
        EXPECT_EQ(outcome.progress.back().received, kSlowBody);
    }
}

} // namespace
} // namespace tarvik::download::testing
