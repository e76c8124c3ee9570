#pragma once

#include "engine/CacheFormat.h"
#include "platform/os/LockedFile.h"
#include "plugin-api/PluginApi.h"

#include <cstdint>
#include <filesystem>
#include <span>

namespace tonemirror::engine {

class TrackTable;
class IgnoreSet;

// The open cache file. It is held with an exclusive lock for as long as it is open, so a second
// running copy of the program cannot use it. Writes go to the end of the good data, which this
// object tracks; it is moved only on the thread that holds the TableLock exclusively (or before
// any worker exists).
class CacheFile {
public:
    // NotRegular: a FIFO, device or kernel file. Foreign: a file of some other program (see load).
    enum class OpenResult { Ok, CannotOpen, Locked, NotRegular, Foreign };

    struct LoadResult {
        HResult result = E_FAIL;
        bool headerReset = false;       // missing, short or of another version: reset to the header
        bool foreign = false;           // not a cache of any version: left untouched, not used
        std::uint64_t droppedBytes = 0; // bytes cut off: a damaged or partial tail, or a foreign file
        cache::ParseResult parse;
    };

    // Opens (creating it when missing) and locks the file. Nothing is read yet.
    OpenResult open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    const std::filesystem::path& path() const { return path_; }
    std::uint64_t endOffset() const { return end_; }

    // Reads the whole file and fills `table` and `ignored` (both emptied first) with its good
    // records. A file too short or of another version is reset to the header alone; a damaged tail
    // is cut off so that the next record appended makes a file that loads completely. A file that
    // is no cache of any version (cache::mayBeCacheFile) is not changed at all: E_FAIL, foreign set.
    LoadResult load(TrackTable& table, IgnoreSet& ignored);

    // Writes one serialised record at the end of the good data. On a failed or short write the end
    // stays where it was, so the next record overwrites the partial one.
    HResult append(std::span<const std::byte> record);

    // Cuts the file back to the header.
    HResult truncateToHeader();

private:
    os::LockedFile file_;
    std::filesystem::path path_;
    std::uint64_t end_ = 0;
};

} // namespace tonemirror::engine
