#pragma once

#include "analysis/ContentSketch.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tonemirror::engine {

// Finds the tracks whose content sketch bound with a query can reach a score, without visiting every
// track: a tree that splits the sketches at the median of their widest value, each node holding the
// range of the sketches below it. A node whose range cannot reach the score (contentSketchBoxBound)
// is passed over with everything below it, so the query returns every track whose own sketch bound
// reaches the score, plus some that the caller rules out. Tracks are added one at a time, in the
// order of their positions; the tree grows by splitting full leaves.
// Not synchronised: the scan adds under its exclusive lock and queries under the shared one.
class ContentIndex {
public:
    void clear();
    // Adds the track at `position` (one more than the last added); `sketches` holds every track's
    // sketch by position, this one included.
    void add(std::uint32_t position, std::span<const analysis::ContentSketch> sketches);

    // Calls visit(position) for every added track before `below` whose sketch bound with `query` may
    // reach `floor` (and for some that may not). Gives up, returning false, once more than `budget`
    // tracks were visited: the tree then narrows too little to be worth it.
    template <typename Visit>
    bool query(const analysis::ContentSketch& query, float floor, std::uint32_t below, std::size_t budget,
               Visit&& visit) const;

    std::size_t nodeCount() const { return nodes_.size(); }

private:
    static constexpr std::size_t kLeafSize = 48;

    struct Node {
        analysis::ContentSketchBox box;
        std::int32_t low = -1; // children; -1 in a leaf
        std::int32_t high = -1;
        std::uint32_t dimension = 0;
        float split = 0.0f;
        std::uint32_t first = 0;            // smallest position below this node
        std::vector<std::uint32_t> members; // a leaf's positions
    };

    void splitLeaf(std::size_t node, std::span<const analysis::ContentSketch> sketches);

    std::vector<Node> nodes_;
};

template <typename Visit>
bool ContentIndex::query(const analysis::ContentSketch& query, float floor, std::uint32_t below,
                         std::size_t budget, Visit&& visit) const {
    if (nodes_.empty()) {
        return true;
    }
    std::size_t visited = 0;
    std::vector<std::int32_t> stack{0};
    while (!stack.empty()) {
        const Node& node = nodes_[static_cast<std::size_t>(stack.back())];
        stack.pop_back();
        if (node.first >= below || analysis::contentSketchBoxBound(query, node.box) < floor) {
            continue;
        }
        if (node.low < 0) {
            visited += node.members.size();
            if (visited > budget) {
                return false;
            }
            for (const std::uint32_t p : node.members) {
                if (p < below) {
                    visit(p);
                }
            }
            continue;
        }
        stack.push_back(node.low);
        stack.push_back(node.high);
    }
    return true;
}

} // namespace tonemirror::engine
