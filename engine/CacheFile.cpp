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
    auto data = readWholeFile(fd);
    if (!data) {
        return out;
    }
    if (!cache::mayBeCacheFile(*data)) {
        out.foreign = true; // an MP3 given as the cache must not become one
        return out;
    }
    out.parse = cache::parse(*data, table, ignored);
    if (!out.parse.headerValid) {
        // Missing, short or another version's file: start again from the header alone.
        out.headerReset = true;
        out.droppedBytes = data->size();
        if (!writeAllAt(fd, 0, cache::header()) || ftruncate(fd, cache::kHeaderSize) != 0) {
            return out;
        }
        end_ = cache::kHeaderSize;
        out.parse.goodEnd = cache::kHeaderSize;
        out.result = S_OK;
        return out;
    }
    end_ = out.parse.goodEnd;
    if (end_ < data->size()) {
        // Cut the damaged tail now: leftover bytes after later appends could otherwise line up as
        // records at the next load.
        // A failed cut is still consistent: appends start at end_ and the next load cuts the rest.
        if (ftruncate(fd, static_cast<off_t>(end_)) == 0) {
            out.droppedBytes = data->size() - end_;
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
