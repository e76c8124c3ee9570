#pragma once

#include "platform/os/FileIdentity.h"

#include <optional>
#include <string>
#include <string_view>

namespace tonemirror::os {

// What decides where a user's trash is: the data folder (whose "Trash" is the home trash) and the
// user id (which names the trash folders on other volumes).
struct TrashEnvironment {
    std::string dataHome; // $XDG_DATA_HOME when absolute, else $HOME/.local/share
    unsigned uid = 0;

    static TrashEnvironment fromProcess();
};

// Recognises trash folders: the home trash, and ".Trash" or ".Trash-<uid>" (of any user) at the top
// of a volume. Paths are native byte strings.
class TrashFolders {
public:
    explicit TrashFolders(const TrashEnvironment& environment);

    const std::string& homeTrash() const { return homeTrash_; }

    bool isTrashFolder(const std::string& nativePath) const;
    // The same for a folder whose identity the caller already has; the home trash is compared with
    // the one found when this object was made (a scan makes one per run).
    bool isTrashFolder(const std::string& nativePath, const FileKey& key) const;
    // The trash folder that is the path itself or holds it, as the path spells it; empty when none.
    std::string trashHolding(const std::string& nativePath) const;

    // True for a folder name a volume's trash uses (".Trash", ".Trash-1000").
    static bool isVolumeTrashName(std::string_view name);
    // True when the folder is the top of its volume (its parent is on another device, or it is "/").
    static bool isVolumeTop(const std::string& nativeFolder);

private:
    bool isVolumeTrash(const std::string& nativePath) const;

    std::string homeTrash_;
    std::optional<FileKey> homeKey_;
};

} // namespace tonemirror::os
