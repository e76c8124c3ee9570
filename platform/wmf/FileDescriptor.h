#pragma once

#include <unistd.h>

namespace tonemirror::wmf {

// Owns an open file descriptor. reset() reports whether close succeeded: on some file systems the
// last write error only shows there.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool reset() {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

} // namespace tonemirror::wmf
