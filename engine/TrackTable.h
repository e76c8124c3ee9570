#pragma once

#include "analysis/TrackRecord.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tonemirror::engine {

// Every analysed file, by full path, ordered by UTF-16 code units (case-sensitive). Records are
// kept without their spectrumRest (written to the cache file before they come here). An entry is
// inserted once; only a newer analysis of a changed file replaces its record, in place. The table
// only grows until it is cleared as a whole.
// Guarded by the TableLock, except tracksKnown(), which is an atomic mirror of size() that the
// status display may read at any time.
class TrackTable {
public:
    using Map = std::map<std::u16string, analysis::TrackRecord, std::less<>>;
    using iterator = Map::iterator;
    using const_iterator = Map::const_iterator;

    TrackTable() = default;
    TrackTable(const TrackTable&) = delete;
    TrackTable& operator=(const TrackTable&) = delete;

    analysis::TrackRecord* find(std::u16string_view path);
    const analysis::TrackRecord* find(std::u16string_view path) const;
    // The table's own copy of a path present (it stays in place until the table is cleared); empty
    // when absent.
    std::u16string_view storedPath(std::u16string_view path) const;

    // False, leaving the existing record untouched, when the path is already present.
    bool insert(std::u16string path, analysis::TrackRecord record);
    // Overwrites the record of a path already present; it keeps its address, so pointers to it stay
    // valid. False when the path is absent.
    bool replace(std::u16string_view path, const analysis::TrackRecord& record);

    void clear();
    std::size_t size() const { return map_.size(); }
    bool empty() const { return map_.empty(); }

    // Marks every record as not seen in the current scan (trackId -1).
    void resetTrackIds();

    iterator begin() { return map_.begin(); }
    iterator end() { return map_.end(); }
    const_iterator begin() const { return map_.begin(); }
    const_iterator end() const { return map_.end(); }

    std::int32_t tracksKnown() const { return tracksKnown_.load(std::memory_order_relaxed); }

private:
    Map map_;
    // The same entries by a hash of their paths: finding one in the ordered map compares long common
    // prefixes along some twenty levels at a million tracks, and a scan finds every track several
    // times, once under the exclusive lock. The views are of map_'s own keys, which stay in place.
    std::unordered_map<std::u16string_view, Map::iterator> byPath_;
    std::atomic<std::int32_t> tracksKnown_{0};
};

} // namespace tonemirror::engine
