#include "platform/wmf/TaggedCopy.h"

#include "platform/wmf/FileDescriptor.h"
#include "platform/wmf/WriteResult.h"

#include <fcntl.h>
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
}

HResult TaggedCopy::create(const std::filesystem::path& original) {
    std::string name = ".";
    name.append(original.stem().string()).append(".tmp-XXXXXX").append(original.extension().string());
    std::string pattern = (original.parent_path() / name).string();
    fd_ = ::mkostemps(pattern.data(), static_cast<int>(original.extension().string().size()), O_CLOEXEC);
    if (fd_ < 0) {
        return resultFromErrno(errno);
    }
    path_ = pattern;
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

HResult TaggedCopy::replace(const std::filesystem::path& original) {
    if (::rename(path_.c_str(), original.c_str()) != 0) {
        return resultFromErrno(errno);
    }
    path_.clear();
    FileDescriptor folder(::open(original.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        (void)::fsync(folder.get()); // the rename happened; this only hurries it to the disk
    }
    return S_OK;
}

} // namespace tonemirror::wmf
