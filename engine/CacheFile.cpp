#include "engine/CacheFile.h"

#include "engine/FileIo.h"
#include "engine/IgnoreSet.h"
#include "engine/TrackTable.h"

#include <fcntl.h>
#include <unistd.h>

namespace tonemirror::engine {

CacheFile::OpenResult CacheFile::open(const std::filesystem::path& path) {
    close();
    switch (file_.open(path, true)) {
    case os::LockedFile::Result::Ok:
        break;
    case os::LockedFile::Result::Locked:
        return OpenResult::Locked;
    case os::LockedFile::Result::CannotOpen:
        return OpenResult::CannotOpen;
    case os::LockedFile::Result::NotRegular:
        return OpenResult::NotRegular;
    }
    path_ = path;
    end_ = 0;
    posix_fadvise(file_.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return OpenResult::Ok;
}

void CacheFile::close() {
    file_.close();
    path_.clear();
    end_ = 0;
}

CacheFile::LoadResult CacheFile::load(TrackTable& table, IgnoreSet& ignored) {
    LoadResult out;
    table.clear();
    ignored.clear();
    if (!isOpen()) {
        return out;
    }
    const int fd = file_.fd();
    const std::optional<std::uint64_t> size = fileSize(fd);
    if (!size) {
        return out;
    }
    // The header decides: a foreign file is never read further.
    const auto head = readHead(fd, cache::kHeaderSize);
    if (!head) {
        return out;
    }
    if (!cache::mayBeCacheFile(*head)) {
        out.foreign = true; // an MP3 given as the cache must not become one
        return out;
    }
    const auto parsed = cache::parseFile(fd, *size, table, ignored);
    if (!parsed) {
        return out;
    }
    out.parse = *parsed;
    if (!out.parse.headerValid) {
        // Missing, short or another version's file: start again from the header alone.
        out.headerReset = true;
        out.droppedBytes = *size;
        if (!writeAllAt(fd, 0, cache::header()) || ftruncate(fd, cache::kHeaderSize) != 0) {
            return out;
        }
        end_ = cache::kHeaderSize;
        out.parse.goodEnd = cache::kHeaderSize;
        out.result = S_OK;
        return out;
    }
    end_ = out.parse.goodEnd;
    if (end_ < *size) {
        // Cut the damaged tail now: leftover bytes after later appends could otherwise line up as
        // records at the next load.
        // A failed cut is still consistent: appends start at end_ and the next load cuts the rest.
        if (ftruncate(fd, static_cast<off_t>(end_)) == 0) {
            out.droppedBytes = *size - end_;
        }
    }
    out.result = S_OK;
    return out;
}

HResult CacheFile::append(std::span<const std::byte> record) {
    if (!isOpen() || end_ < cache::kHeaderSize) {
        return E_FAIL;
    }
    if (!writeAllAt(file_.fd(), end_, record)) {
        // Drop the partial record; should that fail too, the next append or load overwrites it.
        const bool cut = ftruncate(file_.fd(), static_cast<off_t>(end_)) == 0;
        static_cast<void>(cut);
        return E_FAIL;
    }
    end_ += record.size();
    return S_OK;
}

HResult CacheFile::truncateToHeader() {
    if (!isOpen()) {
        return E_FAIL;
    }
    end_ = cache::kHeaderSize;
    if (ftruncate(file_.fd(), cache::kHeaderSize) != 0) {
        return E_FAIL;
    }
    return S_OK;
}

} // namespace tonemirror::engine
