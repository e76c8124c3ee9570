#include "platform/os/TrashDirectory.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tonemirror::os {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

std::string parentOf(const std::string& path) {
    const std::size_t cut = path.find_last_of('/');
    return cut == 0 || cut == std::string::npos ? std::string("/") : path.substr(0, cut);
}

// Closes a descriptor when it goes out of scope unless it was released.
struct ScopedFd {
    int fd = -1;
    ~ScopedFd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int release() { return std::exchange(fd, -1); }
};

// Makes every missing folder of `path` (private ones, as the data folder's are); errno on failure.
bool makeFolders(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) || (errno = ENOTDIR, false);
    }
    if (errno != ENOENT || path == "/" || !makeFolders(parentOf(path))) {
        return false;
    }
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The device of the nearest folder that exists on the way to `path`.
bool deviceOfNearest(std::string path, dev_t& device) {
    struct stat st {};
    while (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT || path == "/") {
            return false;
        }
        path = parentOf(path);
    }
    device = st.st_dev;
    return true;
}

TrashProblem spaceOr(int error, TrashProblem otherwise) {
    return error == ENOSPC || error == EDQUOT ? TrashProblem::TrashFull : otherwise;
}

} // namespace

TrashDirectory::TrashDirectory(const TrashEnvironment& environment, const std::string& itemPath,
                               dev_t device) {
    dev_t homeDevice = 0;
    if (!environment.dataHome.empty() && deviceOfNearest(environment.dataHome + "/Trash", homeDevice) &&
        homeDevice == device) {
        openHome(environment);
        return;
    }
    top_ = volumeTop(parentOf(itemPath));
    if (top_.empty()) {
        fail(TrashProblem::NoTrash, std::strerror(errno));
        return;
    }
    openOnVolume(environment.uid);
}

TrashDirectory::~TrashDirectory() {
    for (const int fd : {files_, info_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::string TrashDirectory::volumeTop(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        return {};
    }
    std::string top = folder;
    while (top != "/") {
        struct stat above {};
        const std::string parent = parentOf(top);
        if (::stat(parent.c_str(), &above) != 0 || above.st_dev != st.st_dev) {
            break;
        }
        top = parent;
    }
    return top;
}

void TrashDirectory::fail(TrashProblem problem, std::string detail) {
    problem_ = problem;
    detail_ = std::move(detail);
}

// The home trash is the user's own: a link to it (a trash kept on another disk) is followed, but it
// must belong to the user.
bool TrashDirectory::openHome(const TrashEnvironment& environment) {
    path_ = environment.dataHome + "/Trash";
    if (!makeFolders(path_)) {
        fail(spaceOr(errno, TrashProblem::TrashNotWritable), path_ + ": " + std::strerror(errno));
        return false;
    }
    ScopedFd trash{::open(path_.c_str(), kFolderFlags)};
    struct stat st {};
    if (trash.fd < 0 || ::fstat(trash.fd, &st) != 0 || st.st_uid != environment.uid) {
        fail(TrashProblem::UnsafeTrash, path_);
        return false;
    }
    return openParts(trash.fd, environment.uid);
}

bool TrashDirectory::openOnVolume(unsigned uid) {
    ScopedFd top{::open(top_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (top.fd < 0) {
        fail(TrashProblem::NoTrash, top_ + ": " + std::strerror(errno));
        return false;
    }
    if (openSharedPart(top.fd, uid)) {
        return true;
    }
    const std::string own = ".Trash-" + std::to_string(uid);
    path_ = (top_ == "/" ? std::string() : top_) + "/" + own;
    ScopedFd trash{openPart(top.fd, own, uid, true, TrashProblem::NoTrash)};
    return trash.fd >= 0 && openParts(trash.fd, uid);
}

// ".Trash/<uid>", used only when ".Trash" is a real folder with the sticky bit (so nobody can take
// another user's folder from it) and "<uid>" is the user's own.
bool TrashDirectory::openSharedPart(int topFd, unsigned uid) {
    ScopedFd shared{::openat(topFd, ".Trash", kFolderFlags | O_NOFOLLOW)};
    struct stat st {};
    if (shared.fd < 0 || ::fstat(shared.fd, &st) != 0 || (st.st_mode & S_ISVTX) == 0) {
        return false;
    }
    const std::string own = std::to_string(uid);
    const std::string path = (top_ == "/" ? std::string() : top_) + "/.Trash/" + own;
    path_ = (top_ == "/" ? std::string() : top_) + "/.Trash";
    ScopedFd trash{openPart(shared.fd, own, uid, true, TrashProblem::NoTrash)};
    path_ = path;
    if (trash.fd < 0 || !openParts(trash.fd, uid)) {
        fail(TrashProblem::None, {}); // the user's own ".Trash-<uid>" may still do
        return false;
    }
    return true;
}

bool TrashDirectory::openParts(int trashFd, unsigned uid) {
    ScopedFd files{openPart(trashFd, "files", uid, false, TrashProblem::TrashNotWritable)};
    ScopedFd info{openPart(trashFd, "info", uid, false, TrashProblem::TrashNotWritable)};
    if (files.fd < 0 || info.fd < 0) {
        return false;
    }
    files_ = files.release();
    info_ = info.release();
    return true;
}

// Opens (making it when absent) one folder of a trash inside `at`, refusing a link, a folder of
// another user and, when strict, one that is not mode 700.
int TrashDirectory::openPart(int at, const std::string& name, unsigned uid, bool strict,
                             TrashProblem cannotMake) {
    const std::string shown = path_.empty() ? name : path_ + "/" + name;
    if (::mkdirat(at, name.c_str(), 0700) != 0 && errno != EEXIST) {
        fail(spaceOr(errno, cannotMake), shown + ": " + std::strerror(errno));
        return -1;
    }
    ScopedFd part{::openat(at, name.c_str(), kFolderFlags | O_NOFOLLOW)};
    if (part.fd < 0) {
        const int error = errno;
        const bool planted = error == ELOOP || error == ENOTDIR;
        fail(planted ? TrashProblem::UnsafeTrash : cannotMake, shown + ": " + std::strerror(error));
        return -1;
    }
    struct stat st {};
    if (::fstat(part.fd, &st) != 0 || st.st_uid != uid || (strict && (st.st_mode & 07777) != 0700)) {
        fail(TrashProblem::UnsafeTrash, shown);
        return -1;
    }
    return part.release();
}

} // namespace tonemirror::os
