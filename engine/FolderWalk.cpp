#include "engine/FolderWalk.h"

#include "platform/os/FileIdentity.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "platform/os/WriteCopyName.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tonemirror::engine {

namespace {

std::u16string errorText(int error) {
    char buffer[256];
    return os::utf8ToUtf16(::strerror_r(error, buffer, sizeof buffer)); // the GNU form returns the text
}

} // namespace

FolderWalk::FolderWalk(ScanReach& reach, const ScanControl& control, const os::TrashFolders& trashes,
                       TakeFile take)
    : reach_(reach), control_(control), trashes_(trashes), take_(std::move(take)) {}

bool FolderWalk::walk(const std::u16string& folder) {
    const std::string native = os::toNativePath(folder).native();
    std::vector<std::string> names;
    if (!listFolder(folder, native, names)) {
        return false;
    }
    for (const std::string& name : names) {
        if (control_.isStopped()) {
            break; // nothing more is queued
        }
        if (os::isWriteCopyName(name)) {
            continue; // a tag write's temporary copy, not music
        }
        std::u16string path = folder;
        if (path.empty() || path.back() != os::kNativeSeparator) {
            path.push_back(os::kNativeSeparator);
        }
        path += os::fromNativePath(name);
        visit(path, native.empty() || native.back() == '/' ? native + name : native + '/' + name);
    }
    return true;
}

bool FolderWalk::listFolder(const std::u16string& folder, const std::string& native,
                            std::vector<std::string>& names) {
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        reach_.skip(folder, error == ENAMETOOLONG ? SkipReason::PathTooLong : SkipReason::UnreadableFolder,
                    errorText(error));
        return false;
    }
    const auto id = os::identify(fd);
    if (!id || !reach_.reachFolder(id->key, folder)) {
        ::close(fd);
        return false;
    }
    if (os::isPseudoFileSystemOf(fd)) {
        ::close(fd);
        reach_.skip(folder, SkipReason::KernelFiles);
        return false;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(fd);
        reach_.skip(folder, SkipReason::UnreadableFolder, errorText(error));
        return false;
    }
    // The names are taken first and the folder closed, so a deep tree holds no descriptors open.
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
        errno = 0;
    }
    if (errno != 0) {
        reach_.skip(folder, SkipReason::UnreadableFolder, errorText(errno));
    }
    ::closedir(dir);
    return true;
}

void FolderWalk::visit(const std::u16string& path, const std::string& native) {
    if (native.size() >= PATH_MAX) {
        reach_.skip(path, SkipReason::PathTooLong);
        return;
    }
    int error = 0;
    auto id = os::identify(native, false, &error);
    if (!id) {
        if (error == ENAMETOOLONG) {
            reach_.skip(path, SkipReason::PathTooLong);
        }
        return; // gone since it was listed
    }
    if (id->kind == os::FileKind::Directory) {
        if (trashes_.isTrashFolder(native, id->key)) {
            reach_.skip(path, SkipReason::TrashFolder);
        } else {
            walk(path); // at once, before the next entry
        }
        return;
    }
    if (id->kind == os::FileKind::Link) {
        id = os::identify(native, true, &error);
        if (!id) {
            reach_.skip(path, SkipReason::BrokenLink, errorText(error));
            return;
        }
        if (id->kind == os::FileKind::Directory) {
            reach_.skip(path, SkipReason::LinkToFolder); // never entered: link loops cannot recurse
            return;
        }
        if (id->kind == os::FileKind::Regular && os::isPseudoFileSystem(native)) {
            reach_.skip(path, SkipReason::KernelFiles);
            return;
        }
    }
    if (id->kind != os::FileKind::Regular) {
        reach_.skip(path, SkipReason::SpecialFile); // would block or never end in a decoder
        return;
    }
    if (control_.isStopped() || !reach_.reachFile(id->key, path)) {
        return;
    }
    take_(path);
}

} // namespace tonemirror::engine
