#include "engine/TrackTable.h"

#include <limits>

namespace tonemirror::engine {

analysis::TrackRecord* TrackTable::find(std::u16string_view path) {
    const auto it = byPath_.find(path);
    return it == byPath_.end() ? nullptr : &it->second->second;
}

const analysis::TrackRecord* TrackTable::find(std::u16string_view path) const {
    const auto it = byPath_.find(path);
    return it == byPath_.end() ? nullptr : &it->second->second;
}

std::u16string_view TrackTable::storedPath(std::u16string_view path) const {
    const auto it = byPath_.find(path);
    return it == byPath_.end() ? std::u16string_view() : it->first;
}

bool TrackTable::insert(std::u16string path, analysis::TrackRecord record) {
    record.spectrumRest = {};
    const auto [it, inserted] = map_.try_emplace(std::move(path), std::move(record));
    if (inserted) {
        byPath_.emplace(it->first, it);
        // The counter is 32-bit like the status display's; it saturates rather than wrapping.
        const std::size_t n = map_.size();
        const auto limit = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
        tracksKnown_.store(static_cast<std::int32_t>(n < limit ? n : limit), std::memory_order_relaxed);
    }
    return inserted;
}

bool TrackTable::replace(std::u16string_view path, const analysis::TrackRecord& record) {
    analysis::TrackRecord* existing = find(path);
    if (existing == nullptr) {
        return false;
    }
    *existing = record;
    existing->spectrumRest = {};
    return true;
}

void TrackTable::clear() {
    tracksKnown_.store(0, std::memory_order_relaxed);
    byPath_.clear();
    map_.clear();
}

void TrackTable::resetTrackIds() {
    for (auto& entry : map_) {
        entry.second.trackId = -1;
    }
}

} // namespace tonemirror::engine
