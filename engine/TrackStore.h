#pragma once

#include "analysis/TrackRecord.h"
#include "engine/CacheFile.h"
#include "engine/IgnoreSet.h"
#include "engine/StorageLocations.h"
#include "engine/TableLock.h"
#include "engine/TrackTable.h"
#include "plugin-api/PluginApi.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace tonemirror::engine {

// What the engine remembers across scans and runs: the track table, the ignored pairs, the open
// cache file and the track-id counter, all guarded by one TableLock. One instance is owned by the
// application object and handed to the scan engine.
//
// Methods marked "caller holds the lock" expect the TableLock to be held in the stated mode;
// the others take it themselves. openCache and loadIgnoreList run before any worker exists.
class TrackStore {
public:
    explicit TrackStore(StorageLocations locations = StorageLocations::standard());
    TrackStore(const TrackStore&) = delete;
    TrackStore& operator=(const TrackStore&) = delete;

    TableLock& lock() { return lock_; }
    TrackTable& table() { return table_; }                  // caller holds the lock
    const TrackTable& table() const { return table_; }      // caller holds the lock
    const IgnoreSet& ignoreSet() const { return ignored_; } // caller holds the lock
    const StorageLocations& locations() const { return locations_; }

    // Entries in the table; readable at any time without the lock.
    std::int32_t tracksKnown() const { return table_.tracksKnown(); }

    // Hands out the next track id (caller holds the lock exclusively). Never reset while running.
    std::int32_t takeNextTrackId();

    // --- cache file ---

    struct CacheAttempt {
        std::filesystem::path file;
        CacheFile::OpenResult result;
    };
    // Opens the first usable cache location and loads it into the table and the ignored pairs
    // (both emptied first). E_FAIL when no location opens or the header cannot be written; the store
    // then works in memory only and appends fail.
    HResult openCache();
    // Every location tried by the last openCache, in order.
    const std::vector<CacheAttempt>& cacheAttempts() const { return cacheAttempts_; }
    // The file openCache would use now, found without creating, changing or keeping anything: the
    // first candidate that is missing where it can be created, or a cache nobody holds. `attempts`
    // receives the candidates passed over and why. nullopt when none qualifies.
    std::optional<std::filesystem::path> findCache(std::vector<CacheAttempt>& attempts) const;
    // The last load's details (valid after openCache succeeded).
    const CacheFile::LoadResult& lastLoad() const { return lastLoad_; }
    // The open cache file; empty when none.
    const std::filesystem::path& cachePath() const { return cache_.path(); }
    bool hasCacheFile() const { return cache_.isOpen(); }
    std::uint64_t cacheEndOffset() const { return cache_.endOffset(); }

    // Appends one track to the cache file (caller holds the lock exclusively), followed by its
    // details record when it has details (its file stamp). `buffer` is the caller's reusable
    // serialisation buffer. E_OUTOFMEMORY when it cannot be sized; E_INVALIDARG
    // when the path or a text does not fit the file's 16-bit lengths (nothing is written);
    // E_FAIL without a cache file or when the write fails.
    HResult appendRecord(std::u16string_view path, const analysis::TrackRecord& record,
                         std::vector<std::byte>& buffer);
    HResult appendRecord(std::u16string_view path, const analysis::TrackRecord& record);
    // Appends only the details record of a track already in the file (caller holds the lock
    // exclusively): completes a record an older version wrote. Same results as appendRecord.
    HResult appendDetails(std::u16string_view path, const analysis::TrackRecord& record,
                          std::vector<std::byte>& buffer);
    HResult appendDetails(std::u16string_view path, const analysis::TrackRecord& record);

    // Empties the table and the ignored pairs and cuts the cache file back to its header.
    HResult clearCache();

    // --- ignore list ---

    // Adds the pairs of "ignores.list" to the set. E_FAIL when no location can be read.
    HResult loadIgnoreList();
    // False when the list last loaded held more than pairs (see ignore_list::Parsed::clean).
    bool ignoreListClean() const { return ignoreListClean_; }
    // Adds (first, second). E_ALREADY_PRESENT when that pair is already there.
    HResult ignorePair(std::u16string_view first, std::u16string_view second);
    // True when (otherPath, newPath) or (newPath, otherPath) is ignored (caller holds the lock).
    bool isIgnored(std::u16string_view newPath, std::u16string_view otherPath) const;
    // Replaces "ignores.list" with the whole set, under the file's lock and merged with the pairs
    // the file holds by then (another running copy may have added some), unless the set was cleared
    // since. A file holding more than pairs is first kept aside under a new name (see
    // ignoreListKeptAside); one that cannot be read or kept aside is never replaced. `skipped`, when
    // given, receives the number of pairs that could not be written (paths holding a double quote).
    HResult saveIgnoreList(std::size_t* skipped = nullptr);
    // Where the last save put the list it found unreadable; empty when it found none.
    const std::filesystem::path& ignoreListKeptAside() const { return ignoreListKeptAside_; }
    // The file the last load or save used; empty when none.
    const std::filesystem::path& ignoreListPath() const { return ignoreListPath_; }

private:
    HResult saveIgnoreListTo(const std::filesystem::path& file, std::size_t* skipped);

    StorageLocations locations_;
    TableLock lock_;
    TrackTable table_;
    IgnoreSet ignored_;
    CacheFile cache_;
    CacheFile::LoadResult lastLoad_;
    std::vector<CacheAttempt> cacheAttempts_;
    std::vector<std::byte> appendBuffer_;
    std::uint32_t nextTrackId_ = 0;
    std::filesystem::path ignoreListPath_;
    bool ignoreListClean_ = true;
    bool ignoredCleared_ = false; // the set was emptied on purpose: the next save does not merge
    std::filesystem::path ignoreListKeptAside_;
};

} // namespace tonemirror::engine
