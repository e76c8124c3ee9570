#include "app/folders/FolderListing.h"

#include "app/AppContext.h"
#include "app/common/NameCollator.h"
#include "platform/os/Paths.h"

#include <QCollator>
#include <QStorageInfo>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tonemirror::app {

namespace fs = std::filesystem;

namespace {

// Bounds the look for a subfolder in a folder of many files.
constexpr int kSubfolderProbeLimit = 4096;

bool hidden(const fs::path& name) {
    const std::string text = name.filename().native();
    return !text.empty() && text.front() == '.';
}

bool isFolder(const fs::directory_entry& entry) {
    std::error_code error;
    return entry.is_directory(error); // follows a symbolic link, as a file manager shows it
}

QDateTime modificationTime(const fs::directory_entry& entry) {
    std::error_code error;
    const fs::file_time_type time = entry.last_write_time(error);
    if (error) {
        return {};
    }
    const auto system = std::chrono::file_clock::to_sys(time);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(system.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count());
}

FolderEntry makeEntry(const fs::directory_entry& entry, bool folder) {
    FolderEntry item;
    item.path = os::fromNativePath(entry.path());
    item.name = displayName(item.path);
    item.isFolder = folder;
    item.modified = modificationTime(entry);
    if (!folder) {
        std::error_code error;
        const std::uintmax_t size = entry.file_size(error);
        item.size = error ? -1 : static_cast<std::int64_t>(size);
    }
    return item;
}

void sortEntries(std::vector<FolderEntry>& entries) {
    const QCollator collator = nameCollator();
    std::stable_sort(entries.begin(), entries.end(), [&](const FolderEntry& a, const FolderEntry& b) {
        if (a.isFolder != b.isFolder) {
            return a.isFolder;
        }
        return collator.compare(a.name, b.name) < 0;
    });
}

// Volumes a user mounts: removable and extra disks, not the system's pseudo and image file systems.
bool userVolume(const QStorageInfo& volume) {
    static const QByteArrayList skipped{"tmpfs", "devtmpfs", "overlay", "squashfs", "ramfs", "autofs"};
    if (!volume.isValid() || !volume.isReady() || skipped.contains(volume.fileSystemType())) {
        return false;
    }
    const QString root = volume.rootPath();
    return volume.device().startsWith("/dev/") || root.startsWith(QStringLiteral("/media/")) ||
           root.startsWith(QStringLiteral("/run/media/"));
}

void addTopLevel(std::vector<FolderEntry>& items, const fs::path& path, const QString& name) {
    std::error_code error;
    if (path.empty() || !fs::is_directory(path, error)) {
        return;
    }
    FolderEntry item;
    item.path = os::fromNativePath(path.lexically_normal());
    if (item.path.size() > 1 && item.path.back() == os::kNativeSeparator) {
        item.path.pop_back();
    }
    for (const FolderEntry& known : items) {
        if (known.path == item.path) {
            return;
        }
    }
    item.name = name;
    item.isFolder = true;
    item.hasSubfolders = hasSubfolders(item.path);
    items.push_back(std::move(item));
}

} // namespace

QString displayName(const std::u16string& path) {
    const std::size_t slash = path.find_last_of(os::kNativeSeparator);
    if (slash == std::u16string::npos || slash + 1 == path.size()) {
        return windowName(path);
    }
    return windowName(std::u16string_view(path).substr(slash + 1));
}

std::vector<FolderEntry> topLevelFolders() {
    std::vector<FolderEntry> items;
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') {
        addTopLevel(items, fs::path(home), toQString(os::fromNativePath(fs::path(home))));
    }
    addTopLevel(items, fs::path("/"), QStringLiteral("/"));
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!userVolume(volume) || volume.isRoot()) {
            continue;
        }
        const fs::path root(volume.rootPath().toStdString());
        const QString label = volume.displayName();
        const QString name = label == volume.rootPath()
                                 ? label
                                 : label + QStringLiteral(" (") + volume.rootPath() + QLatin1Char(')');
        addTopLevel(items, root, name);
    }
    return items;
}

std::vector<FolderEntry> listFolder(const std::u16string& folder, ListWhat what) {
    std::vector<FolderEntry> entries;
    std::error_code error;
    fs::directory_iterator it(os::toNativePath(folder), fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (hidden(it->path())) {
            continue;
        }
        const bool folderEntry = isFolder(*it);
        if (what == ListWhat::FoldersOnly && !folderEntry) {
            continue;
        }
        entries.push_back(makeEntry(*it, folderEntry));
        if (folderEntry && what == ListWhat::FoldersOnly) {
            entries.back().hasSubfolders = hasSubfolders(entries.back().path);
        }
    }
    sortEntries(entries);
    return entries;
}

bool hasSubfolders(const std::u16string& folder) {
    std::error_code error;
    fs::directory_iterator it(os::toNativePath(folder), fs::directory_options::skip_permission_denied, error);
    int looked = 0;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (++looked > kSubfolderProbeLimit) {
            return true;
        }
        if (!hidden(it->path()) && isFolder(*it)) {
            return true;
        }
    }
    return false;
}

} // namespace tonemirror::app
