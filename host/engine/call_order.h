// The order in which the blocks of a parent model compute their outputs in a major step. Every
// input of every block is direct-feedthrough, so a block runs after the blocks that drive its
// inputs, except a block whose outputs depend only on its states (a plant): it runs first and
// breaks the loop it closes with its controller.
#pragma once

#include <span>
#include <utility>
#include <vector>

namespace qelengine {

struct CallOrder {
    std::vector<int> order;   // every block once; empty when there is a loop
    std::vector<int> loop;    // the blocks of one algebraic loop, in signal order, when there is one
};

// `edges` are (driving block, driven block) pairs; an edge into a block with `stateOutputs` set
// does not constrain the order. Among blocks free to run, the one listed first runs first.
CallOrder orderBlocks(int numBlocks, std::span<const std::pair<int, int>> edges, std::span<const bool> stateOutputs);

}  // namespace qelengine
