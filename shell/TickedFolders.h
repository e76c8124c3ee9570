#pragma once

#include "shell/DiskFolders.h"
#include "shell/FolderSystem.h"

#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// The rules of the folders ticked in the folder tree, which a scan starts from. A ticked folder stands
// for itself and everything below it; no entry equals another or lies inside another. Paths are
// absolute and compared exactly (case-sensitively); a trailing "/" given with a path is ignored.

// Equal, or one lies below the other.
bool pathsRelated(std::u16string_view a, std::u16string_view b);
// `inner` lies below `outer` (related and longer).
bool pathInside(std::u16string_view inner, std::u16string_view outer);
// The folder tree's items with a check box: absolute paths.
bool isFileSystemPath(std::u16string_view path);

// Stored folders as the tree takes them: entries that are not absolute paths are dropped, and so is
// every entry that another equals or lies inside (with duplicates the later copy stays, with nested
// entries the innermost).
std::vector<std::u16string> dropRedundantFolders(std::vector<std::u16string> folders);

// How a folder shows in the tree.
enum class FolderMark {
    Unticked,
    Ticked,       // ticked itself or inside a ticked folder
    PartlyTicked, // some ticked folder lies inside it
};
FolderMark folderMark(const std::vector<std::u16string>& ticked, std::u16string_view path);

// Ticks the folder (first dropping ticked folders inside it), climbing to the parent while every
// subfolder of the parent is ticked, never above the root of a mounted file system. Returns the highest
// folder whose mark changed: the loaded folders related to it take their folderMark() again.
std::u16string tickFolder(std::vector<std::u16string>& ticked, std::u16string_view path,
                          const FolderSystem& system);
// Unticks the folder (and the ticked folders inside it). A ticked folder above it gives way to its
// other subfolders along the path, also across mount roots. Returns the highest folder whose mark
// changed.
std::u16string untickFolder(std::vector<std::u16string>& ticked, std::u16string_view path,
                            const FolderSystem& system);

// The hint under the tree: the first five folders joined by ", ", then ", ..." when there are more;
// `empty` when none is ticked.
std::u16string tickedFoldersHint(const std::vector<std::u16string>& ticked, std::u16string_view empty);

// The ticked folders with the file system they are ticked on, for a folder tree.
class TickedFolders {
public:
    // What a click on a folder's check box did.
    struct Change {
        bool ticked = false;
        std::u16string changed; // as tickFolder / untickFolder return it; empty when ignored
    };

    explicit TickedFolders(const FolderSystem& system) : system_(system) {} // kept by reference

    void load(std::vector<std::u16string> stored) { folders_ = dropRedundantFolders(std::move(stored)); }
    const std::vector<std::u16string>& folders() const { return folders_; }
    FolderMark markOf(std::u16string_view path) const { return folderMark(folders_, path); }

    // Unticks a ticked folder, ticks any other; ignores a path that is not a file-system path.
    Change click(std::u16string_view path);
    std::u16string tick(std::u16string_view path) { return tickFolder(folders_, path, system_); }
    std::u16string untick(std::u16string_view path) { return untickFolder(folders_, path, system_); }
    std::u16string hintText(std::u16string_view empty) const { return tickedFoldersHint(folders_, empty); }

private:
    const FolderSystem& system_;
    std::vector<std::u16string> folders_;
};

} // namespace tonemirror::shell
