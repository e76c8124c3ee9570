#pragma once

#include "shell/FolderSystem.h"

#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// The folders ticked in the folder tree, which a scan starts from. A ticked folder stands for itself
// and everything below it; no entry equals another or lies inside another. Paths are absolute and
// compared exactly (case-sensitively); a trailing "/" given with a path is ignored.
class TickedFolders {
public:
    // How a folder shows in the tree.
    enum class Mark {
        Unticked,
        Ticked,       // ticked itself or inside a ticked folder
        PartlyTicked, // some ticked folder lies inside it
    };

    // What a click on a folder's check box did.
    struct Change {
        bool ticked = false;
        // The highest folder whose mark may have changed: re-mark the loaded folders related to it.
        std::u16string changed;
    };

    explicit TickedFolders(const FolderSystem& folders); // kept by reference

    // Equal, or one lies below the other.
    static bool related(std::u16string_view a, std::u16string_view b);
    // `inner` lies below `outer` (related and longer).
    static bool inside(std::u16string_view inner, std::u16string_view outer);
    // The folder tree's items with a check box: absolute paths.
    static bool isFileSystemPath(std::u16string_view path);

    // Stored folders: entries that are not absolute paths are dropped, and every entry that another
    // equals or lies inside (with duplicates the later copy stays, with nested entries the innermost).
    void load(const std::vector<std::u16string>& stored);
    const std::vector<std::u16string>& folders() const { return folders_; }

    Mark markOf(std::u16string_view path) const;

    // A click on the folder's check box: unticks a ticked folder, ticks any other. Ignored (changed
    // empty) for a path that is not a file-system path.
    Change click(std::u16string_view path);
    // Ticks the folder, climbing to the parent while every subfolder of the parent is ticked, never
    // above the root of a mounted file system. Returns the highest folder whose mark changed.
    std::u16string tick(std::u16string_view path);
    // Unticks the folder; a ticked folder above it gives way to its other subfolders along the path.
    // Returns the highest folder whose mark changed.
    std::u16string untick(std::u16string_view path);

    // The hint under the tree: the first five folders joined by ", ", then ", ..." when there are more;
    // `empty` when none is ticked.
    std::u16string hintText(std::u16string_view empty) const;

private:
    bool isTicked(std::u16string_view path) const;
    bool anyContaining(std::u16string_view path) const;
    bool anyInside(std::u16string_view path) const;
    void removeInside(std::u16string_view path);
    void remove(std::u16string_view path);

    const FolderSystem& system_;
    std::vector<std::u16string> folders_;
};

} // namespace tonemirror::shell
