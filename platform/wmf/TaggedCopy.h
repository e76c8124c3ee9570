#pragma once

#include "plugin-api/PluginApi.h"

#include <filesystem>

namespace tonemirror::wmf {

// The temporary copy a tag write goes through, made in the original's folder so the final rename
// stays on one file system. Its name is one of os::writeCopyName's, so scans and file lists pass it
// by. It is locked while it exists, removed when destroyed (unless it has replaced the original) and
// by SIGINT or SIGTERM, and creating one first clears the folder of stale copies a killed write left.
class TaggedCopy {
public:
    TaggedCopy() = default;
    ~TaggedCopy();
    TaggedCopy(const TaggedCopy&) = delete;
    TaggedCopy& operator=(const TaggedCopy&) = delete;

    // Creates an empty copy beside `original`, open for reading and writing.
    HResult create(const std::filesystem::path& original);
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    // Flushes the copy to the disk and closes it; a failure of either names its cause.
    HResult finish();
    // Renames the copy over `original` and flushes the folder.
    HResult replace(const std::filesystem::path& original);
    // True when the copy's name is gone: a signal removed it while the program went on.
    bool removed() const;

private:
    void release();

    int fd_ = -1;
    int lock_ = -1; // holds the lock from creation to the end, across finish()
    int slot_ = -1;
    std::filesystem::path path_;
};

} // namespace tonemirror::wmf
