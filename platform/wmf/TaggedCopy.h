#pragma once

#include "plugin-api/PluginApi.h"

#include <filesystem>

namespace tonemirror::wmf {

// The temporary copy a tag write goes through, made in the original's folder so the final rename
// stays on one file system. Removed when destroyed, unless it has replaced the original.
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

private:
    int fd_ = -1;
    std::filesystem::path path_;
};

} // namespace tonemirror::wmf
