#include "engine/ScanIndex.h"

#include <algorithm>

namespace tonemirror::engine {

void ScanIndex::clear() {
    entries_.clear();
    ids_.clear();
    contentKeys_.clear();
    tagSketches_.clear();
    contentSketches_.clear();
}

void ScanIndex::append(const std::u16string& path, const analysis::TrackRecord& record) {
    entries_.push_back({path, &record});
    ids_.push_back(record.trackId);
    analysis::makeContentKey(record, contentKeys_.emplace_back());
    analysis::makeContentSketch(contentKeys_.back(), contentSketches_.emplace_back());
    tagSketches_.push_back(analysis::makeTagSketch(record));
}

std::ptrdiff_t ScanIndex::positionOf(std::int32_t trackId) const {
    // Ids are appended in increasing order (as unsigned numbers, which is how tracks are ordered).
    const auto it = std::lower_bound(ids_.begin(), ids_.end(), trackId, [](std::int32_t a, std::int32_t b) {
        return static_cast<std::uint32_t>(a) < static_cast<std::uint32_t>(b);
    });
    if (it == ids_.end() || *it != trackId) {
        return -1;
    }
    return it - ids_.begin();
}

} // namespace tonemirror::engine
