#include "plugins/compresscodec/ByteSource.h"

#include "platform/os/FileIdentity.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tonemirror::compresscodec {

FileByteSource::~FileByteSource() {
    close();
}

bool FileByteSource::open(const std::filesystem::path& path) {
    close();
    // Never waits on a FIFO or device, never reads a kernel file.
    const int fd = os::openRegularFile(path, O_RDONLY).fd;
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    position_ = 0;
    return true;
}

void FileByteSource::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    size_ = 0;
    position_ = 0;
}

std::size_t FileByteSource::read(void* buffer, std::size_t count) {
    if (fd_ < 0) {
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(position_ + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    position_ += done;
    return done;
}

bool FileByteSource::seek(std::uint64_t offset) {
    if (fd_ < 0 || offset > size_) {
        return false;
    }
    position_ = offset;
    return true;
}

std::size_t MemoryByteSource::read(void* buffer, std::size_t count) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, remaining()));
    if (n > 0) {
        std::memcpy(buffer, data_.data() + position_, n);
    }
    position_ += n;
    return n;
}

bool MemoryByteSource::seek(std::uint64_t offset) {
    if (offset > data_.size()) {
        return false;
    }
    position_ = offset;
    return true;
}

} // namespace tonemirror::compresscodec
