#pragma once

#include <filesystem>

namespace tonemirror::os {

// A file opened for reading and writing and held with an exclusive advisory lock, so that a second
// running copy of the program cannot use it at the same time. Closed (and unlocked) when destroyed.
class LockedFile {
public:
    LockedFile() = default;
    ~LockedFile();
    LockedFile(LockedFile&& other) noexcept;
    LockedFile& operator=(LockedFile&& other) noexcept;
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    enum class Result { Ok, CannotOpen, Locked, NotRegular };

    // Opens (creating when asked) and locks without waiting. Only a regular file on a real file
    // system is opened: a FIFO, device or kernel file is refused (NotRegular) before it could block.
    Result open(const std::filesystem::path& path, bool create);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

} // namespace tonemirror::os
