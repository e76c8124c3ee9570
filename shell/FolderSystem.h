#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// What the folder-ticking rules ask of the file system. Paths are absolute, with "/" between names and
// no trailing separator except for the root itself.
class FolderSystem {
public:
    virtual ~FolderSystem() = default;
    // Full paths of the folder's subfolders (parent + "/" + name), in any order; nullopt when the
    // folder cannot be opened.
    virtual std::optional<std::vector<std::u16string>> subfolders(std::u16string_view folder) const = 0;
    // True for the root of a mounted file system (and for "/").
    virtual bool isMountRoot(std::u16string_view folder) const = 0;
    // True when a folder exists at the path.
    virtual bool exists(std::u16string_view folder) const = 0;
};

} // namespace tonemirror::shell
