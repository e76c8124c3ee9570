#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace tonemirror::os {

// A file as the system knows it, independent of the name it was reached by.
struct FileKey {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    auto operator<=>(const FileKey&) const = default;
};

enum class FileKind { Regular, Directory, Link, Fifo, Socket, Device, Other };

struct FileIdentity {
    FileKey key;
    FileKind kind = FileKind::Other;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::uint32_t modifiedNanoseconds = 0;
};

// The file a path names, following symbolic links (followLinks false: the link itself). nullopt when
// the system cannot tell; `error` then receives errno.
std::optional<FileIdentity> identify(const std::filesystem::path& path, bool followLinks = true,
                                     int* error = nullptr);
std::optional<FileIdentity> identify(int fd);

// True for file systems whose files the kernel makes up (proc, sysfs, debugfs, ...): their "files"
// may block a reader forever or never end, and they hold no music.
bool isPseudoFileSystem(const std::filesystem::path& path);
bool isPseudoFileSystemOf(int fd);

// Why a file was not opened for reading.
enum class OpenRefusal { None, CannotOpen, NotRegular, PseudoFileSystem };

struct OpenedFile {
    int fd = -1; // owned by the caller; -1 when refused
    OpenRefusal refusal = OpenRefusal::CannotOpen;
    int error = 0; // errno when CannotOpen
};

// Opens a regular file on a real file system without ever waiting: a FIFO, a device or a kernel
// file is refused before anything is read from it. `flags` are open(2) flags (O_RDONLY, O_RDWR,
// O_CREAT ...); the descriptor is close-on-exec and blocking again when returned.
OpenedFile openRegularFile(const std::filesystem::path& path, int flags, unsigned mode = 0644);

// The same check without opening anything (opening some devices has effects of its own):
// CannotOpen when the path names nothing the system can tell about.
OpenRefusal checkRegularFile(const std::filesystem::path& path);

} // namespace tonemirror::os
