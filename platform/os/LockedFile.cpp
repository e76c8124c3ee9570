#include "platform/os/LockedFile.h"

#include "platform/os/FileIdentity.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace tonemirror::os {

LockedFile::~LockedFile() {
    close();
}

LockedFile::LockedFile(LockedFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

LockedFile::Result LockedFile::open(const std::filesystem::path& path, bool create) {
    close();
    const OpenedFile opened = openRegularFile(path, create ? O_RDWR | O_CREAT : O_RDWR);
    if (opened.refusal == OpenRefusal::NotRegular || opened.refusal == OpenRefusal::PseudoFileSystem) {
        return Result::NotRegular;
    }
    const int fd = opened.fd;
    if (fd < 0) {
        return Result::CannotOpen;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Result::Locked;
    }
    fd_ = fd;
    return Result::Ok;
}

void LockedFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace tonemirror::os
