#include "platform/wmf/TaggedCopy.h"

#include "platform/os/WriteCopyName.h"
#include "platform/wmf/CopyCleanup.h"
#include "platform/wmf/FileDescriptor.h"
#include "platform/wmf/WriteResult.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace tonemirror::wmf {

TaggedCopy::~TaggedCopy() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
    release();
}

void TaggedCopy::release() {
    forgetCopy(slot_);
    slot_ = -1;
    if (lock_ >= 0) {
        ::close(lock_);
        lock_ = -1;
    }
}

HResult TaggedCopy::create(const std::filesystem::path& original) {
    const std::filesystem::path folder = original.parent_path();
    removeStaleCopies(folder);
    std::string pattern = (folder / os::writeCopyPattern(original.filename().native())).native();
    {
        const CopySignalsHeld held;
        fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd_ < 0) {
            return resultFromErrno(errno);
        }
        path_ = pattern;
        slot_ = rememberCopy(pattern);
    }
    // A second descriptor keeps the lock after finish() closes the first; a lock means "still in use".
    lock_ = ::open(pattern.c_str(), O_RDONLY | O_CLOEXEC);
    if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        return resultFromErrno(errno);
    }
    return S_OK;
}

HResult TaggedCopy::finish() {
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return resultFromErrno(error);
    }
    return ::close(fd) == 0 ? S_OK : resultFromErrno(errno);
}

bool TaggedCopy::removed() const {
    struct stat st {};
    return lock_ >= 0 && ::fstat(lock_, &st) == 0 && st.st_nlink == 0;
}

HResult TaggedCopy::replace(const std::filesystem::path& original) {
    if (::rename(path_.c_str(), original.c_str()) != 0) {
        return removed() ? E_INTERRUPTED : resultFromErrno(errno);
    }
    path_.clear();
    release();
    FileDescriptor folder(::open(original.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        (void)::fsync(folder.get()); // the rename happened; this only hurries it to the disk
    }
    return S_OK;
}

} // namespace tonemirror::wmf
