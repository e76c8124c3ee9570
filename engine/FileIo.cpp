#include "engine/FileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tonemirror::engine {

std::optional<std::vector<std::byte>> readWholeFile(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < 0) {
        return std::nullopt;
    }
    std::vector<std::byte> data;
    try {
        data.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            break; // shrank meanwhile: keep what is there
        }
        done += static_cast<std::size_t>(n);
    }
    data.resize(done);
    return data;
}

std::optional<std::uint64_t> fileSize(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::vector<std::byte>> readHead(int fd, std::size_t limit) {
    std::vector<std::byte> data(limit);
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    data.resize(done);
    return data;
}

bool writeAllAt(int fd, std::uint64_t offset, std::span<const std::byte> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd); // best effort: the rename itself already happened
        ::close(fd);
    }
}

} // namespace

bool replaceFile(const std::filesystem::path& target, std::span<const std::byte> bytes) {
    const std::filesystem::path folder = target.parent_path();
    std::string temp = (folder / (target.filename().string() + ".tmp-XXXXXX")).string();
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    mode_t mode = 0644;
    if (struct stat st{}; ::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    }
    bool ok = fchmod(fd, mode) == 0 && writeAllAt(fd, 0, bytes) && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && std::rename(temp.c_str(), target.c_str()) == 0) {
        syncFolder(folder);
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}

} // namespace tonemirror::engine
