#include "platform/os/Rename.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tonemirror::os {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// For file systems without RENAME_NOREPLACE: link() refuses an existing target atomically.
std::error_code linkThenUnlink(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::link(from.c_str(), to.c_str()) != 0) {
        return lastError();
    }
    if (::unlink(from.c_str()) != 0) {
        const std::error_code error = lastError();
        ::unlink(to.c_str()); // back to the single old name
        return error;
    }
    return {};
}

} // namespace

std::error_code renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    const int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        // EINVAL also means "a folder into itself"; link() then fails on its own with EPERM.
        return linkThenUnlink(from, to);
    }
    return {error, std::generic_category()};
}

} // namespace tonemirror::os
