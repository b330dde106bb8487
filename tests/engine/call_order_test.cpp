#include "host/engine/call_order.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace qelengine {
namespace {

struct Case {
    const char* name;
    int numBlocks;
    std::vector<std::pair<int, int>> edges;   // driving block, driven block
    std::vector<bool> stateOutputs;
    std::vector<int> order;
    std::vector<int> loop;
};

CallOrder run(const Case& c) {
    std::unique_ptr<bool[]> flags(new bool[static_cast<size_t>(c.numBlocks)]);
    for (int b = 0; b < c.numBlocks; ++b) flags[static_cast<size_t>(b)] = c.stateOutputs[static_cast<size_t>(b)];
    return orderBlocks(c.numBlocks, c.edges, std::span<const bool>(flags.get(), static_cast<size_t>(c.numBlocks)));
}

TEST(CallOrder, DrivingBlocksRunFirstAndPlantsBreakTheirLoops) {
    const std::vector<Case> cases = {
        {"listed order when nothing is wired", 3, {}, {false, false, false}, {0, 1, 2}, {}},
        {"a chain listed backwards", 3, {{2, 1}, {1, 0}}, {false, false, false}, {2, 1, 0}, {}},
        // controller 0, plant 1, reference 2: the plant runs first, then what it feeds.
        {"controller and plant loop", 3, {{2, 0}, {1, 0}, {0, 1}}, {false, true, false}, {1, 2, 0}, {}},
        {"two plants in one chain", 4, {{0, 1}, {1, 2}, {2, 3}, {3, 0}}, {true, false, true, false}, {0, 1, 2, 3}, {}},
        {"fan-out from one source", 3, {{1, 0}, {1, 2}}, {false, false, false}, {1, 0, 2}, {}},
        {"a loop of blocks without states", 3, {{0, 1}, {1, 2}, {2, 1}}, {false, false, false}, {}, {1, 2}},
        {"a loop of three", 4, {{3, 0}, {0, 1}, {1, 2}, {2, 0}}, {false, false, false, false}, {}, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CallOrder result = run(c);
        EXPECT_EQ(result.order, c.order);
        // The loop is reported in signal order; any rotation of it names the same loop.
        ASSERT_EQ(result.loop.size(), c.loop.size());
        if (!c.loop.empty()) {
            std::vector<int> rotated = result.loop;
            while (rotated.front() != c.loop.front()) std::rotate(rotated.begin(), rotated.begin() + 1, rotated.end());
            EXPECT_EQ(rotated, c.loop);
        }
    }
}

}  // namespace
}  // namespace qelengine
