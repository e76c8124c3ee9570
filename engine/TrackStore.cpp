#include "engine/TrackStore.h"

#include "engine/CacheFormat.h"
#include "engine/EngineResults.h"
#include "engine/FileIo.h"
#include "engine/IgnoreListFormat.h"
#include "engine/IgnoreListLock.h"
#include "platform/os/FileIdentity.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tonemirror::engine {

TrackStore::TrackStore(StorageLocations locations) : locations_(std::move(locations)) {}

std::int32_t TrackStore::takeNextTrackId() {
    // Unsigned arithmetic: wrapping after 2^32 ids is harmless, overflowing a signed counter is not.
    ++nextTrackId_;
    return static_cast<std::int32_t>(nextTrackId_);
}

HResult TrackStore::openCache() {
    cache_.close();
    cacheAttempts_.clear();
    lastLoad_ = {};
    table_.clear();
    ignored_.clear();
    for (const auto& candidate : locations_.cacheCandidates()) {
        if (candidate.inUserData && !locations_.createUserDataFolder()) {
            cacheAttempts_.push_back({candidate.file, CacheFile::OpenResult::CannotOpen});
            continue;
        }
        const CacheFile::OpenResult r = cache_.open(candidate.file);
        cacheAttempts_.push_back({candidate.file, r});
        if (r != CacheFile::OpenResult::Ok) {
            continue;
        }
        lastLoad_ = cache_.load(table_, ignored_);
        if (succeeded(lastLoad_.result)) {
            return S_OK;
        }
        // Another program's file (left as it is), or the header could not be written: next place.
        if (lastLoad_.foreign) {
            cacheAttempts_.back().result = CacheFile::OpenResult::Foreign;
        }
        cache_.close();
        table_.clear();
        ignored_.clear();
    }
    return E_FAIL;
}

namespace {

// Whether an existing candidate would be taken: held by nobody, regular, a cache by its header.
CacheFile::OpenResult probeCache(const std::filesystem::path& file) {
    os::LockedFile probe;
    switch (probe.open(file, false)) {
    case os::LockedFile::Result::Ok:
        break;
    case os::LockedFile::Result::Locked:
        return CacheFile::OpenResult::Locked;
    case os::LockedFile::Result::NotRegular:
        return CacheFile::OpenResult::NotRegular;
    case os::LockedFile::Result::CannotOpen:
        return CacheFile::OpenResult::CannotOpen;
    }
    const auto head = readHead(probe.fd(), cache::kHeaderSize);
    return head && cache::mayBeCacheFile(*head) ? CacheFile::OpenResult::Ok : CacheFile::OpenResult::Foreign;
}

} // namespace

std::optional<std::filesystem::path> TrackStore::findCache(std::vector<CacheAttempt>& attempts) const {
    attempts.clear();
    for (const auto& candidate : locations_.cacheCandidates()) {
        std::error_code ec;
        if (!std::filesystem::exists(candidate.file, ec)) {
            if (StorageLocations::firstUsable({candidate})) {
                return candidate.file;
            }
            attempts.push_back({candidate.file, CacheFile::OpenResult::CannotOpen});
            continue;
        }
        const CacheFile::OpenResult r = probeCache(candidate.file);
        if (r == CacheFile::OpenResult::Ok) {
            return candidate.file;
        }
        attempts.push_back({candidate.file, r});
    }
    return std::nullopt;
}

HResult TrackStore::appendRecord(std::u16string_view path, const analysis::TrackRecord& record,
                                 std::vector<std::byte>& buffer) {
    if (!cache_.isOpen()) {
        return E_FAIL;
    }
    if (const HResult r = cache::serializeTrackWithDetails(path, record, buffer); failed(r)) {
        return r;
    }
    return cache_.append(buffer);
}

HResult TrackStore::appendDetails(std::u16string_view path, const analysis::TrackRecord& record,
                                  std::vector<std::byte>& buffer) {
    if (!cache_.isOpen()) {
        return E_FAIL;
    }
    if (const HResult r = cache::serializeDetails(path, record, buffer); failed(r)) {
        return r;
    }
    return cache_.append(buffer);
}

HResult TrackStore::appendRecord(std::u16string_view path, const analysis::TrackRecord& record) {
    return appendRecord(path, record, appendBuffer_);
}

HResult TrackStore::appendDetails(std::u16string_view path, const analysis::TrackRecord& record) {
    return appendDetails(path, record, appendBuffer_);
}

HResult TrackStore::clearCache() {
    TableLockHolder hold(lock_);
    table_.clear();
    ignored_.clear();
    ignoredCleared_ = true;
    if (cache_.isOpen()) {
        // A failed cut leaves old records behind the new end; the next load drops them.
        (void)cache_.truncateToHeader();
    }
    return S_OK;
}

namespace {

// Reads an open descriptor whole and closes it.
HResult readAndClose(int fd, IgnoreSet& set, bool& clean) {
    const auto parsed = ignore_list::readFile(fd, set);
    ::close(fd);
    if (!parsed) {
        return E_FAIL;
    }
    clean = parsed->clean;
    return S_OK;
}

} // namespace

HResult TrackStore::loadIgnoreList() {
    ignoreListPath_.clear();
    if (!locations_.ignoreListFile.empty()) {
        // An explicit file that does not exist yet is an empty list.
        const auto& file = locations_.ignoreListFile;
        ignoreListPath_ = file;
        const os::OpenedFile opened = os::openRegularFile(file, O_RDONLY);
        if (opened.fd < 0) {
            const bool missing = opened.refusal == os::OpenRefusal::CannotOpen && opened.error == ENOENT;
            return missing ? S_OK : E_FAIL; // a FIFO or device is refused before it could block
        }
        const int fd = opened.fd;
        return readAndClose(fd, ignored_, ignoreListClean_);
    }
    for (const auto& candidate : locations_.ignoreListCandidates()) {
        int fd = -1;
        if (!candidate.inUserData) {
            // The program folder's list is created empty when missing.
            fd = os::openRegularFile(candidate.file, O_RDWR | O_CREAT).fd;
        } else if (locations_.createUserDataFolder()) {
            fd = os::openRegularFile(candidate.file, O_RDONLY).fd;
        }
        if (fd >= 0) {
            ignoreListPath_ = candidate.file;
            return readAndClose(fd, ignored_, ignoreListClean_);
        }
    }
    return E_FAIL;
}

HResult TrackStore::ignorePair(std::u16string_view first, std::u16string_view second) {
    TableLockHolder hold(lock_);
    return ignored_.insert(std::u16string(first), std::u16string(second)) ? S_OK : E_ALREADY_PRESENT;
}

bool TrackStore::isIgnored(std::u16string_view newPath, std::u16string_view otherPath) const {
    return ignored_.contains(otherPath, newPath) || ignored_.contains(newPath, otherPath);
}

HResult TrackStore::saveIgnoreList(std::size_t* skipped) {
    ignoreListKeptAside_.clear();
    if (!locations_.ignoreListFile.empty()) {
        return saveIgnoreListTo(locations_.ignoreListFile, skipped);
    }
    for (const auto& candidate : locations_.ignoreListCandidates()) {
        if (candidate.inUserData && !locations_.createUserDataFolder()) {
            continue;
        }
        if (succeeded(saveIgnoreListTo(candidate.file, skipped))) {
            return S_OK;
        }
    }
    return E_FAIL;
}

HResult TrackStore::saveIgnoreListTo(const std::filesystem::path& file, std::size_t* skipped) {
    IgnoreListLock fileLock;
    if (!fileLock.acquire(file)) {
        return E_FAIL;
    }
    IgnoreSet onDisk;
    const auto parsed = ignore_list::readFile(fileLock.fd(), onDisk);
    if (!parsed) {
        return E_FAIL; // what cannot be read is not replaced
    }
    if (!parsed->clean) {
        ignoreListKeptAside_ = keepAside(file);
        if (ignoreListKeptAside_.empty()) {
            return E_FAIL;
        }
    }
    ignore_list::Formatted text;
    {
        TableLockHolder hold(lock_);
        if (!ignoredCleared_) {
            for (const auto& [first, second] : onDisk) {
                ignored_.insert(first, second);
            }
        }
        text = ignore_list::format(ignored_);
    }
    if (skipped != nullptr) {
        *skipped = text.skipped;
    }
    if (!replaceFile(file, text.bytes)) {
        return E_FAIL;
    }
    ignoredCleared_ = false;
    ignoreListPath_ = file;
    return S_OK;
}

} // namespace tonemirror::engine
