#include "engine/IgnoreListLock.h"

#include "platform/os/FileIdentity.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <stdio.h>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace tonemirror::engine {

IgnoreListLock::~IgnoreListLock() {
    release();
}

void IgnoreListLock::release() {
    if (fd_ >= 0) {
        ::close(fd_); // also drops the lock
        fd_ = -1;
    }
}

bool IgnoreListLock::acquire(const std::filesystem::path& file, std::chrono::milliseconds wait) {
    release();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const int fd = os::openRegularFile(file, O_RDWR | O_CREAT).fd;
        if (fd < 0) {
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            const auto locked = os::identify(fd);
            const auto named = os::identify(file);
            if (locked && named && locked->key == named->key) {
                fd_ = fd;
                return true;
            }
            ::close(fd); // replaced while we waited: lock the new file
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::filesystem::path keepAside(const std::filesystem::path& file) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "unknown-time";
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    }
    const std::string base = file.native() + ".unreadable-" + stamp;
    for (int n = 0; n < 100; ++n) {
        const std::string name = n == 0 ? base : base + "-" + std::to_string(n);
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
            return name;
        }
        if (errno == EEXIST) {
            continue;
        }
        // File systems without the no-replace rename: a new link fails when the name is taken.
        if (errno == EINVAL && ::link(file.c_str(), name.c_str()) == 0) {
            ::unlink(file.c_str());
            return name;
        }
        if (errno != EEXIST) {
            return {};
        }
    }
    return {};
}

} // namespace tonemirror::engine
