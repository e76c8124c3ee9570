#include "engine/ContentIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tonemirror::engine {

void ContentIndex::clear() {
    nodes_.clear();
}

void ContentIndex::add(std::uint32_t position, std::span<const analysis::ContentSketch> sketches) {
    const analysis::ContentSketch& sketch = sketches[position];
    if (nodes_.empty()) {
        nodes_.emplace_back();
        nodes_[0].first = position;
    }
    std::size_t at = 0;
    for (;;) {
        Node& node = nodes_[at];
        node.box.add(sketch);
        node.first = std::min(node.first, position);
        if (node.low < 0) {
            break;
        }
        at = static_cast<std::size_t>(analysis::sketchValue(sketch, node.dimension) < node.split ? node.low
                                                                                                 : node.high);
    }
    nodes_[at].members.push_back(position);
    // A leaf of equal sketches cannot be split; it is tried again only once it has doubled.
    const std::size_t size = nodes_[at].members.size();
    if (size > kLeafSize && size % kLeafSize == 1) {
        splitLeaf(at, sketches);
    }
}

void ContentIndex::splitLeaf(std::size_t at, std::span<const analysis::ContentSketch> sketches) {
    const analysis::ContentSketchBox& box = nodes_[at].box;
    std::uint32_t widest = 0;
    float spread = 0.0f;
    for (std::uint32_t d = 0; d < analysis::kSketchValues; ++d) {
        const float s = analysis::sketchValue(box.hi, d) - analysis::sketchValue(box.lo, d);
        if (s > spread) {
            spread = s;
            widest = d;
        }
    }
    if (!(spread > 0.0f)) {
        return;
    }
    std::vector<float> values;
    values.reserve(nodes_[at].members.size());
    for (const std::uint32_t p : nodes_[at].members) {
        values.push_back(analysis::sketchValue(sketches[p], widest));
    }
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    float split = *middle;
    if (split == *std::min_element(values.begin(), values.end())) {
        // Half or more share the smallest value: the others go high.
        split = std::nextafter(split, std::numeric_limits<float>::infinity());
    }
    Node low;
    Node high;
    low.first = high.first = UINT32_MAX;
    for (const std::uint32_t p : nodes_[at].members) {
        Node& side = analysis::sketchValue(sketches[p], widest) < split ? low : high;
        side.box.add(sketches[p]);
        side.first = std::min(side.first, p);
        side.members.push_back(p);
    }
    if (low.members.empty() || high.members.empty()) {
        return;
    }
    const auto lowAt = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back(std::move(low));
    nodes_.push_back(std::move(high));
    Node& node = nodes_[at];
    node.low = lowAt;
    node.high = lowAt + 1;
    node.dimension = widest;
    node.split = split;
    node.members.clear();
    node.members.shrink_to_fit();
}

} // namespace tonemirror::engine
