#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace tonemirror::app {

// One item of a folder as the Folders page shows it. Paths are in the core's UTF-16 form, which maps
// every native name (also one that is not valid UTF-8) back to the same bytes.
struct FolderEntry {
    std::u16string path;
    QString name; // display name
    bool isFolder = false;
    bool hasSubfolders = false; // folders only, filled when asked for
    std::int64_t size = -1;     // files only
    QDateTime modified;
};

// The top level of the folder tree: the home folder, the file-system root and mounted volumes, each
// once, in that order.
std::vector<FolderEntry> topLevelFolders();

enum class ListWhat { FoldersOnly, Everything };

// The visible items of a folder (names starting with a dot are hidden, as file managers do).
// An unreadable folder or item is skipped, never an error. Folders come first, then names in the
// user's collation order, digits compared as numbers.
std::vector<FolderEntry> listFolder(const std::u16string& folder, ListWhat what);

// True when the folder holds at least one visible subfolder (looks at a bounded number of entries
// and answers true when it gives up, so an expand button may turn out empty).
bool hasSubfolders(const std::u16string& folder);

// The last name of a path ("/" for the root).
QString displayName(const std::u16string& path);

} // namespace tonemirror::app
