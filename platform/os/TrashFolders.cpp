#include "platform/os/TrashFolders.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tonemirror::os {

namespace {

std::string parentOf(const std::string& path) {
    const std::size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) {
        return ".";
    }
    return cut == 0 ? std::string("/") : path.substr(0, cut);
}

std::string_view nameOf(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t cut = path.find_last_of('/');
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::optional<FileKey> keyOf(const std::string& path) {
    const auto id = identify(path);
    if (!id || id->kind != FileKind::Directory) {
        return std::nullopt;
    }
    return id->key;
}

} // namespace

TrashEnvironment TrashEnvironment::fromProcess() {
    TrashEnvironment environment;
    environment.uid = ::getuid();
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        environment.dataHome = xdg;
        return environment;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        environment.dataHome = std::string(home) + "/.local/share";
    } else if (const passwd* pw = ::getpwuid(environment.uid); pw != nullptr && pw->pw_dir != nullptr) {
        environment.dataHome = std::string(pw->pw_dir) + "/.local/share";
    }
    return environment;
}

TrashFolders::TrashFolders(const TrashEnvironment& environment) {
    if (!environment.dataHome.empty()) {
        homeTrash_ = environment.dataHome + "/Trash";
        homeKey_ = keyOf(homeTrash_);
    }
}

bool TrashFolders::isVolumeTrashName(std::string_view name) {
    if (name == ".Trash") {
        return true;
    }
    constexpr std::string_view kPrefix = ".Trash-";
    if (!name.starts_with(kPrefix) || name.size() == kPrefix.size() || name.size() > kPrefix.size() + 10) {
        return false;
    }
    for (const char c : name.substr(kPrefix.size())) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool TrashFolders::isVolumeTop(const std::string& nativeFolder) {
    struct stat self {};
    struct stat above {};
    if (::stat(nativeFolder.c_str(), &self) != 0 || ::stat((nativeFolder + "/..").c_str(), &above) != 0) {
        return false;
    }
    return self.st_dev != above.st_dev || self.st_ino == above.st_ino;
}

bool TrashFolders::isVolumeTrash(const std::string& nativePath) const {
    return isVolumeTrashName(nameOf(nativePath)) && isVolumeTop(parentOf(nativePath));
}

bool TrashFolders::isTrashFolder(const std::string& nativePath) const {
    const auto key = keyOf(nativePath);
    if (!key) {
        return false;
    }
    if (!homeTrash_.empty() && key == keyOf(homeTrash_)) {
        return true;
    }
    return isVolumeTrash(nativePath);
}

bool TrashFolders::isTrashFolder(const std::string& nativePath, const FileKey& key) const {
    return (homeKey_ && key == *homeKey_) || isVolumeTrash(nativePath);
}

std::string TrashFolders::trashHolding(const std::string& nativePath) const {
    std::string path = nativePath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    while (!path.empty() && path != "/" && path != ".") {
        if (isTrashFolder(path)) {
            return path;
        }
        path = parentOf(path);
    }
    return {};
}

} // namespace tonemirror::os
