// The figures the page's progress notices are made of: dl_progress is dl_now / dl_total, so the
// figures the host takes must never make it fall back or pass 100.
#include "download/progress_gate.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tarvik::download {
namespace {

using Figures = std::pair<uint64_t, int64_t>; // received, total

TEST(ProgressGateTest, TakenFiguresNeverFallAndNeverPassTheTotal) {
    struct Case {
        const char* name;
        std::vector<Figures> stored; // each then taken
        std::vector<Figures> taken;
    };
    const Case cases[] = {
        {"as announced", {{512, 2048}, {2048, 2048}}, {{512, 2048}, {2048, 2048}}},
        // A server that sends more than it announced: the total grows with the bytes, so the
        // page sees 100 %, never 150 %.
        {"more than announced", {{150, 200}, {300, 200}}, {{150, 200}, {300, 300}}},
        // A range that starts over counts its bytes anew; the page's figures stay where they
        // were until they are passed.
        {"bytes counted again after a restart",
         {{600, 1000}, {400, 1000}, {700, 1000}},
         {{600, 1000}, {600, 1000}, {700, 1000}}},
        {"a total announced smaller later", {{100, 1000}, {200, 800}}, {{100, 1000}, {200, 1000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgressGate gate(std::chrono::milliseconds(0));
        std::vector<Figures> taken;
        for (const auto& [received, total] : c.stored) {
            gate.Offer(received, total, ProgressGate::Clock::now());
            const ProgressFigures figures = gate.Take();
            taken.emplace_back(figures.received, figures.total);
        }
        EXPECT_EQ(taken, c.taken);
    }
}

} // namespace
} // namespace tarvik::download
