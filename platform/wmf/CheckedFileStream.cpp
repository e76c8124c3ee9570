#include "platform/wmf/CheckedFileStream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace tonemirror::wmf {

namespace {

constexpr std::size_t kMoveBlock = 1 << 20;
constexpr std::size_t kCacheBlock = 64 * 1024;
// No tag structure is larger (cover pictures included); a sparse file can claim gigabytes for one.
constexpr unsigned long kMaxRead = 64ul << 20;

} // namespace

CheckedFileStream::CheckedFileStream(int fd, std::string name, bool writable)
    : fd_(fd), name_(std::move(name)), writable_(writable) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size <= std::numeric_limits<long>::max()) {
        length_ = static_cast<long>(st.st_size);
    }
}

void CheckedFileStream::fail(int error) {
    if (error_ == 0) {
        error_ = error != 0 ? error : EIO;
    }
}

bool CheckedFileStream::readAt(long offset, char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, out + done, size - done, offset + static_cast<long>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A file that shrank under us, or a read error: the tag library must not build on it.
            fail(n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

TagLib::ByteVector CheckedFileStream::readBlock(unsigned long length) {
    if (!isOpen() || position_ >= length_ || length == 0) {
        return {};
    }
    const auto wanted = static_cast<std::size_t>(
        std::min({length, static_cast<unsigned long>(length_ - position_), kMaxRead}));
    if (wanted > kCacheBlock) {
        TagLib::ByteVector data(static_cast<unsigned int>(wanted), '\0');
        if (!readAt(position_, data.data(), wanted)) {
            return {};
        }
        position_ += static_cast<long>(wanted);
        return data;
    }
    // The tag library reads a few bytes at a time, a damaged count makes it read thousands of times:
    // small reads come from one cached block, as they would from a buffered file.
    const auto cached = static_cast<long>(cache_.size());
    if (position_ < cacheStart_ || position_ + static_cast<long>(wanted) > cacheStart_ + cached) {
        cache_.resize(
            static_cast<std::size_t>(std::min<long>(static_cast<long>(kCacheBlock), length_ - position_)));
        cacheStart_ = position_;
        if (!readAt(position_, cache_.data(), cache_.size())) {
            cache_.clear();
            return {};
        }
    }
    TagLib::ByteVector data(cache_.data() + (position_ - cacheStart_), static_cast<unsigned int>(wanted));
    position_ += static_cast<long>(wanted);
    return data;
}

bool CheckedFileStream::writeAt(long offset, const char* data, std::size_t size) {
    if (error_ != 0) {
        return false;
    }
    if (!writable_) {
        fail(EBADF);
        return false;
    }
    cache_.clear();
    // Writing past the end would leave a hole; no sound save does that, a damaged offset would.
    if (offset < 0 || offset > length_) {
        fail(EINVAL);
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, data + done, size - done, offset + static_cast<long>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC); // a write that takes nothing means a full disk
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    length_ = std::max(length_, offset + static_cast<long>(size));
    return true;
}

void CheckedFileStream::writeBlock(const TagLib::ByteVector& data) {
    if (writeAt(position_, data.data(), data.size())) {
        position_ += static_cast<long>(data.size());
    }
}

bool CheckedFileStream::moveTail(long from, long to) {
    const long count = length_ - from;
    if (count <= 0 || from == to) {
        return true;
    }
    // Growing first lets every block land inside the file.
    if (to > from) {
        truncate(length_ + (to - from));
        if (error_ != 0) {
            return false;
        }
    }
    const long block = static_cast<long>(kMoveBlock);
    // Moving towards the end copies from the back, towards the start from the front, so no byte is
    // overwritten before it was read.
    for (long done = 0; done < count;) {
        const long size = std::min(block, count - done);
        const long offset = to > from ? count - done - size : done;
        position_ = from + offset;
        const TagLib::ByteVector data = readBlock(static_cast<unsigned long>(size));
        if (static_cast<long>(data.size()) != size || !writeAt(to + offset, data.data(), data.size())) {
            fail(EIO);
            return false;
        }
        done += size;
    }
    return true;
}

void CheckedFileStream::insert(const TagLib::ByteVector& data, unsigned long start, unsigned long replace) {
    if (!isOpen() || start > static_cast<unsigned long>(length_)) {
        fail(EINVAL);
        return;
    }
    const auto at = static_cast<long>(start);
    const long replaced =
        std::min(static_cast<long>(std::min<unsigned long>(replace, length_)), length_ - at);
    const auto size = static_cast<long>(data.size());
    if (size > replaced && !moveTail(at + replaced, at + size)) {
        return;
    }
    if (!writeAt(at, data.data(), data.size())) {
        return;
    }
    position_ = at + size;
    if (size < replaced) {
        removeBlock(static_cast<unsigned long>(at + size), static_cast<unsigned long>(replaced - size));
        position_ = at + size;
    }
}

void CheckedFileStream::removeBlock(unsigned long start, unsigned long length) {
    if (!isOpen() || start >= static_cast<unsigned long>(length_) || length == 0) {
        return;
    }
    const auto at = static_cast<long>(start);
    const long removed = std::min(static_cast<long>(std::min<unsigned long>(length, length_)), length_ - at);
    if (moveTail(at + removed, at)) {
        truncate(length_ - removed);
    }
    position_ = at;
}

void CheckedFileStream::seek(long offset, Position p) {
    long base = 0;
    if (p == Current) {
        base = position_;
    } else if (p == End) {
        base = length_;
    }
    if ((offset > 0 && base > std::numeric_limits<long>::max() - offset) || base + offset < 0) {
        return; // as a failed fseek: the position stays
    }
    position_ = base + offset;
}

void CheckedFileStream::truncate(long length) {
    if (error_ != 0) {
        return;
    }
    if (!writable_ || length < 0) {
        fail(!writable_ ? EBADF : EINVAL);
        return;
    }
    cache_.clear();
    while (::ftruncate(fd_, length) != 0) {
        if (errno != EINTR) {
            fail(errno);
            return;
        }
    }
    length_ = length;
}

} // namespace tonemirror::wmf
