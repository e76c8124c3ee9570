#pragma once

#include "shell/FolderSystem.h"

namespace tonemirror::shell {

// The real file system. Subfolders include links to folders, as the folder tree shows them.
class DiskFolders : public FolderSystem {
public:
    std::optional<std::vector<std::u16string>> subfolders(std::u16string_view folder) const override;
    // A folder on another device than its parent, or its own parent. Folders that cannot be examined
    // count as mount roots, which stops any climb there.
    bool isMountRoot(std::u16string_view folder) const override;
    bool exists(std::u16string_view folder) const override;
};

} // namespace tonemirror::shell
