#pragma once

#include <chrono>
#include <filesystem>

namespace tonemirror::engine {

// The exclusive lock every running copy of the program takes on "ignores.list" before it reads the
// file to merge and replace it, so that pairs another copy added in between are never lost. The lock
// sits on the file itself; since a replace puts a new file under the name, a holder checks after
// locking that the name still leads to the file it locked, and starts again when it does not.
class IgnoreListLock {
public:
    IgnoreListLock() = default;
    ~IgnoreListLock();
    IgnoreListLock(const IgnoreListLock&) = delete;
    IgnoreListLock& operator=(const IgnoreListLock&) = delete;

    // Opens (creating it when missing) and locks the file, waiting up to `wait` for another holder.
    // False when it cannot be opened (or is no regular file) or stays locked.
    bool acquire(const std::filesystem::path& file,
                 std::chrono::milliseconds wait = std::chrono::seconds(10));
    void release();
    // The locked file, open for reading and writing; -1 when not held.
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Renames `file` to a new name beside it ("ignores.list.unreadable-20260107-101500", numbered when
// taken), never replacing anything. The new name, or empty when it could not be renamed.
std::filesystem::path keepAside(const std::filesystem::path& file);

} // namespace tonemirror::engine
