#include "platform/os/Paths.h"

#include "platform/os/Text.h"

#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace tonemirror::os {

std::filesystem::path programFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return exe.parent_path();
}

std::filesystem::path userDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::filesystem::path(xdg) / "Tonemirror";
    }
    const char* home = std::getenv("HOME");
    std::filesystem::path base;
    if (home != nullptr && home[0] != '\0') {
        base = home;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        base = pw->pw_dir;
    } else {
        return {};
    }
    return base / ".local" / "share" / "Tonemirror";
}

std::filesystem::path toNativePath(std::u16string_view path) {
    return std::filesystem::path(utf16ToUtf8(path));
}

std::u16string fromNativePath(const std::filesystem::path& path) {
    return utf8ToUtf16(path.native());
}

bool isFolderWritable(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return false;
    }
    std::string probe = (folder / ".tonemirror-write-test-XXXXXX").string();
    int fd = mkstemp(probe.data());
    if (fd < 0) {
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

} // namespace tonemirror::os
