#include "platform/os/FileIdentity.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace tonemirror::os {

namespace {

FileKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileKind::Regular;
    }
    if (S_ISDIR(mode)) {
        return FileKind::Directory;
    }
    if (S_ISLNK(mode)) {
        return FileKind::Link;
    }
    if (S_ISFIFO(mode)) {
        return FileKind::Fifo;
    }
    if (S_ISSOCK(mode)) {
        return FileKind::Socket;
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return FileKind::Device;
    }
    return FileKind::Other;
}

FileIdentity fromStat(const struct stat& st) {
    FileIdentity id;
    id.key = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    id.kind = kindOf(st.st_mode);
    id.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    id.modifiedSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    id.modifiedNanoseconds = static_cast<std::uint32_t>(st.st_mtim.tv_nsec);
    return id;
}

// Kernel-made file systems. The last three have no name in the system headers of every release.
constexpr unsigned long kPseudoFileSystems[] = {
    PROC_SUPER_MAGIC, SYSFS_MAGIC,        DEVPTS_SUPER_MAGIC,  DEBUGFS_MAGIC,       TRACEFS_MAGIC,
    SECURITYFS_MAGIC, CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, PSTOREFS_MAGIC,      BPF_FS_MAGIC,
    HUGETLBFS_MAGIC,  EFIVARFS_MAGIC,     BINFMTFS_MAGIC,      SELINUX_MAGIC,       SMACK_MAGIC,
    NSFS_MAGIC,       SOCKFS_MAGIC,       PIPEFS_MAGIC,        ANON_INODE_FS_MAGIC,
    0x62656570,  // configfs
    0x65735543,  // fusectl
    0x19800202}; // mqueue

bool isPseudo(const struct statfs& fs) {
    const auto type = static_cast<unsigned long>(fs.f_type);
    for (const unsigned long pseudo : kPseudoFileSystems) {
        if (type == pseudo) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<FileIdentity> identify(const std::filesystem::path& path, bool followLinks, int* error) {
    struct stat st {};
    const int rc = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (rc != 0) {
        if (error != nullptr) {
            *error = errno;
        }
        return std::nullopt;
    }
    return fromStat(st);
}

std::optional<FileIdentity> identify(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    return fromStat(st);
}

bool isPseudoFileSystem(const std::filesystem::path& path) {
    struct statfs fs {};
    return ::statfs(path.c_str(), &fs) == 0 && isPseudo(fs);
}

bool isPseudoFileSystemOf(int fd) {
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && isPseudo(fs);
}

OpenedFile openRegularFile(const std::filesystem::path& path, int flags, unsigned mode) {
    OpenedFile out;
    // O_NONBLOCK: opening a FIFO without a writer (or a device) would otherwise wait forever.
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) {
        out.error = errno;
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        out.refusal = OpenRefusal::NotRegular;
        return out;
    }
    if (isPseudoFileSystemOf(fd)) {
        ::close(fd);
        out.refusal = OpenRefusal::PseudoFileSystem;
        return out;
    }
    const int current = ::fcntl(fd, F_GETFL);
    if (current < 0 || ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK) != 0) {
        out.error = errno;
        ::close(fd);
        return out;
    }
    out.fd = fd;
    out.refusal = OpenRefusal::None;
    return out;
}

OpenRefusal checkRegularFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return OpenRefusal::CannotOpen;
    }
    if (!S_ISREG(st.st_mode)) {
        return OpenRefusal::NotRegular;
    }
    return isPseudoFileSystem(path) ? OpenRefusal::PseudoFileSystem : OpenRefusal::None;
}

} // namespace tonemirror::os
