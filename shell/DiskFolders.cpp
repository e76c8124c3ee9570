#include "shell/DiskFolders.h"

#include "platform/os/Paths.h"

#include <filesystem>
#include <sys/stat.h>

namespace tonemirror::shell {

namespace fs = std::filesystem;

std::optional<std::vector<std::u16string>> DiskFolders::subfolders(std::u16string_view folder) const {
    std::error_code error;
    fs::directory_iterator it(os::toNativePath(folder), error);
    if (error) {
        return std::nullopt;
    }
    std::u16string prefix(folder);
    if (prefix.empty() || prefix.back() != os::kNativeSeparator) {
        prefix.push_back(os::kNativeSeparator);
    }
    std::vector<std::u16string> result;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        std::error_code statError;
        if (it->is_directory(statError)) {
            result.push_back(prefix + os::fromNativePath(it->path().filename()));
        }
    }
    if (error) {
        return std::nullopt; // a listing cut short would make missing folders look ticked
    }
    return result;
}

bool DiskFolders::isMountRoot(std::u16string_view folder) const {
    const fs::path path = os::toNativePath(folder);
    struct stat self {};
    struct stat parent {};
    if (::stat(path.c_str(), &self) != 0 || ::stat((path / "..").c_str(), &parent) != 0) {
        return true;
    }
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

bool DiskFolders::exists(std::u16string_view folder) const {
    std::error_code error;
    return fs::is_directory(os::toNativePath(folder), error);
}

} // namespace tonemirror::shell
