#include "host/engine/call_order.h"

#include <algorithm>

namespace qelengine {

CallOrder orderBlocks(int numBlocks, std::span<const std::pair<int, int>> edges, std::span<const bool> stateOutputs) {
    const size_t n = static_cast<size_t>(numBlocks);
    std::vector<std::vector<int>> driven(n);
    std::vector<int> pending(n, 0);   // inputs still waiting for their driving block
    for (const auto& [from, to] : edges) {
        if (stateOutputs[static_cast<size_t>(to)]) continue;
        driven[static_cast<size_t>(from)].push_back(to);
        ++pending[static_cast<size_t>(to)];
    }

    CallOrder result;
    std::vector<bool> done(n, false);
    // Scanning from the front each time keeps the listed order among free blocks; models are
    // small, so the quadratic scan costs nothing worth a heap.
    for (size_t placed = 0; placed < n; ++placed) {
        size_t next = n;
        for (size_t b = 0; b < n; ++b) {
            if (!done[b] && pending[b] == 0) {
                next = b;
                break;
            }
        }
        if (next == n) break;
        done[next] = true;
        result.order.push_back(static_cast<int>(next));
        for (int to : driven[next]) --pending[static_cast<size_t>(to)];
    }
    if (result.order.size() == n) return result;

    // Every block left waits on another one left: walk back along waiting inputs until a block
    // repeats, which closes a loop.
    result.order.clear();
    std::vector<int> drivers(n, -1);
    for (const auto& [from, to] : edges) {
        if (stateOutputs[static_cast<size_t>(to)] || done[static_cast<size_t>(from)]) continue;
        if (drivers[static_cast<size_t>(to)] < 0) drivers[static_cast<size_t>(to)] = from;
    }
    int start = -1;
    for (size_t b = 0; b < n; ++b) {
        if (!done[b]) {
            start = static_cast<int>(b);
            break;
        }
    }
    std::vector<int> walk;
    std::vector<int> seenAt(n, -1);
    int current = start;
    while (seenAt[static_cast<size_t>(current)] < 0) {
        seenAt[static_cast<size_t>(current)] = static_cast<int>(walk.size());
        walk.push_back(current);
        current = drivers[static_cast<size_t>(current)];
    }
    result.loop.assign(walk.begin() + seenAt[static_cast<size_t>(current)], walk.end());
    std::reverse(result.loop.begin(), result.loop.end());   // driving block first
    return result;
}

}  // namespace qelengine
