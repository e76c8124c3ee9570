#include "platform/os/DesktopTrash.h"

#include "platform/os/Rename.h"
#include "platform/os/TrashDirectory.h"
#include "platform/os/TrashInfo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tonemirror::os {

namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr std::size_t kNameMax = 255;
constexpr int kNumberedAttempts = 100; // "name.2.mp3" ... then random names

TrashOutcome failure(TrashProblem problem, std::string detail = {}) {
    return {false, {}, problem, std::move(detail)};
}

TrashOutcome systemFailure(TrashProblem problem, int error) {
    return failure(problem, std::strerror(error));
}

// The problem a refused rename of the item names.
TrashProblem moveProblem(int error) {
    switch (error) {
    case ENOENT:
        return TrashProblem::NotFound;
    case EACCES:
    case EPERM:
        return TrashProblem::NoPermission;
    case EROFS:
        return TrashProblem::ReadOnly;
    case EBUSY:
        return TrashProblem::Busy;
    default:
        return TrashProblem::MoveFailed;
    }
}

std::string deletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = {};
    if (::localtime_r(&now, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) {
        return "1970-01-01T00:00:00";
    }
    return text;
}

// Cuts `text` to at most `size` bytes without splitting a UTF-8 sequence.
std::string cutTo(std::string text, std::size_t size) {
    if (text.size() <= size) {
        return text;
    }
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
        --size;
    }
    return text.substr(0, size);
}

// The name an item takes in the trash at a given attempt: its own, then "song.2.mp3" and so on, then
// random ones; always short enough for the record's name to fit.
std::string trashName(const std::string& name, int attempt, std::mt19937& random) {
    const std::size_t dot = name.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= 16;
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    std::string number;
    if (attempt > 0) {
        number = "." + std::to_string(attempt < kNumberedAttempts ? attempt + 1 : random());
    }
    const std::size_t room = kNameMax - kInfoSuffix.size() - number.size() - extension.size();
    return cutTo(std::move(stem), room) + number + extension;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Writes the record as a new file; false with errno when it cannot, leaving no file behind.
bool writeRecord(int infoFd, const std::string& name, const std::string& text) {
    const int fd = ::openat(infoFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    const int error = errno;
    if (::close(fd) != 0 || !written) {
        const int reported = written ? errno : error;
        ::unlinkat(infoFd, name.c_str(), 0);
        errno = reported == 0 ? EIO : reported;
        return false;
    }
    return true;
}

// Moves without replacing anything. Where the file system has no RENAME_NOREPLACE a file goes by a
// link and an unlink; a folder cannot be moved safely there and is refused.
int moveNoReplace(int fromFd, const std::string& from, int toFd, const std::string& to, bool isFolder) {
    if (::renameat2(fromFd, from.c_str(), toFd, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    const int error = errno;
    if ((error != EINVAL && error != ENOSYS && error != ENOTSUP) || isFolder) {
        return error;
    }
    if (::linkat(fromFd, from.c_str(), toFd, to.c_str(), 0) != 0) {
        return errno;
    }
    if (::unlinkat(fromFd, from.c_str(), 0) != 0) {
        const int unlinkError = errno;
        ::unlinkat(toFd, to.c_str(), 0); // back to the single old name
        return unlinkError;
    }
    return 0;
}

struct ItemPath {
    std::string folder; // resolved
    std::string name;
    std::string full() const { return (folder == "/" ? std::string() : folder) + "/" + name; }
};

// Splits the path into its resolved folder and its own name, which is not resolved: a link is
// trashed itself, never its target.
bool splitItem(const std::string& nativePath, ItemPath& item, TrashProblem& problem) {
    std::string path = nativePath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const std::size_t cut = path.find_last_of('/');
    item.name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (item.name.empty() || item.name == "." || item.name == ".." || path == "/") {
        problem = TrashProblem::NotAnItem;
        return false;
    }
    const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved) == nullptr) {
        problem = errno == ENOENT || errno == ENOTDIR ? TrashProblem::NotFound : TrashProblem::MoveFailed;
        return false;
    }
    item.folder = resolved;
    return true;
}

std::string parentOf(const std::string& path) {
    const std::size_t cut = path.find_last_of('/');
    return cut == 0 || cut == std::string::npos ? std::string("/") : path.substr(0, cut);
}

std::string nameOf(const std::string& path) {
    const std::size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool hasDotDot(std::string_view path) {
    return path == ".." || path.starts_with("../") || path.ends_with("/..") ||
           path.find("/../") != std::string_view::npos;
}

// The record of a trashed item, read no further than any record of ours can be long.
std::optional<TrashInfo> readRecord(const std::string& infoPath) {
    const int fd = ::open(infoPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text(kMaxTrashInfoBytes + 1, '\0');
    std::size_t size = 0;
    while (size < text.size()) {
        const ssize_t got = ::read(fd, text.data() + size, text.size() - size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text.resize(size);
    return parseTrashInfo(text);
}

std::string recordedPath(const std::string& original, const std::string& top) {
    if (top.empty()) {
        return original;
    }
    return top == "/" ? original.substr(1) : original.substr(top.size() + 1);
}

} // namespace

const char* describeTrashProblem(TrashProblem problem) {
    switch (problem) {
    case TrashProblem::None:
        return "";
    case TrashProblem::NotFound:
        return "the file no longer exists";
    case TrashProblem::NotAnItem:
        return "the name does not denote a file or folder that can be moved";
    case TrashProblem::AlreadyInTrash:
        return "it is in the trash already";
    case TrashProblem::HoldsTrash:
        return "it holds the trash folder itself";
    case TrashProblem::NoTrash:
        return "its disk has no trash this program can use";
    case TrashProblem::UnsafeTrash:
        return "the trash folder on its disk is not safe to use: it is a link or belongs to someone else";
    case TrashProblem::TrashNotWritable:
        return "the trash folder cannot be used";
    case TrashProblem::TrashFull:
        return "there is no space left on the trash folder's disk";
    case TrashProblem::TooManyNames:
        return "the trash holds too many items of this name";
    case TrashProblem::NoPermission:
        return "there is no permission to move it";
    case TrashProblem::ReadOnly:
        return "its disk is read-only";
    case TrashProblem::Busy:
        return "it is in use by the system";
    case TrashProblem::MoveFailed:
        return "the system refused to move it";
    case TrashProblem::NotInTrash:
        return "it is no longer in the trash";
    case TrashProblem::NotATrashEntry:
        return "it is not an item of a trash folder";
    case TrashProblem::RecordMismatch:
        return "the trash's record of it is missing or names another place";
    case TrashProblem::PlaceTaken:
        return "another file already has its old name";
    case TrashProblem::FolderGone:
        return "the folder it came from no longer exists";
    }
    return "unknown reason";
}

DesktopTrash::DesktopTrash(TrashEnvironment environment)
    : environment_(std::move(environment)), folders_(environment_) {}

bool DesktopTrash::isTrashFolder(const std::string& nativePath) const {
    return folders_.isTrashFolder(nativePath);
}

TrashOutcome DesktopTrash::moveToTrash(const std::string& nativePath) {
    ItemPath item;
    TrashProblem problem = TrashProblem::None;
    if (!splitItem(nativePath, item, problem)) {
        return failure(problem, problem == TrashProblem::NotAnItem ? std::string() : std::strerror(errno));
    }
    const std::string original = item.full();
    struct stat st {};
    struct stat folder {};
    if (::lstat(original.c_str(), &st) != 0 || ::stat(item.folder.c_str(), &folder) != 0) {
        return systemFailure(errno == ENOENT ? TrashProblem::NotFound : TrashProblem::MoveFailed, errno);
    }
    if (folder.st_dev != st.st_dev) {
        return failure(TrashProblem::Busy, original); // a mount point: no trash of either disk may take it
    }
    if (const std::string trash = folders_.trashHolding(original); !trash.empty()) {
        return failure(TrashProblem::AlreadyInTrash, trash);
    }
    const TrashDirectory trash(environment_, original, st.st_dev);
    if (!trash.valid()) {
        return failure(trash.problem(), trash.detail());
    }
    char resolvedTrash[PATH_MAX];
    if (S_ISDIR(st.st_mode) && ::realpath(trash.path().c_str(), resolvedTrash) != nullptr &&
        std::string(resolvedTrash).starts_with(original + "/")) {
        return failure(TrashProblem::HoldsTrash, trash.path());
    }
    const int folderFd = ::open(item.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        return systemFailure(TrashProblem::NotFound, errno);
    }
    TrashOutcome outcome = moveInto(trash, folderFd, item.name, original, S_ISDIR(st.st_mode));
    ::close(folderFd);
    return outcome;
}

// Writes the record under a free name, then moves the item to the same name; a clash in either
// folder moves on to the next name, any other failure takes the record back out.
TrashOutcome DesktopTrash::moveInto(const TrashDirectory& trash, int folderFd, const std::string& name,
                                    const std::string& original, bool isFolder) {
    const std::string record = formatTrashInfo({recordedPath(original, trash.top()), deletionDate()});
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const std::string trashed = trashName(name, attempt, random);
        const std::string info = trashed + std::string(kInfoSuffix);
        if (!writeRecord(trash.info(), info, record)) {
            if (errno == EEXIST) {
                continue;
            }
            const int error = errno;
            const TrashProblem problem =
                error == ENOSPC || error == EDQUOT ? TrashProblem::TrashFull : TrashProblem::TrashNotWritable;
            return failure(problem, trash.path() + "/info: " + std::strerror(error));
        }
        const int error = moveNoReplace(folderFd, name, trash.files(), trashed, isFolder);
        if (error == 0) {
            return {true,
                    {original, trash.path() + "/files/" + trashed, trash.path() + "/info/" + info},
                    TrashProblem::None,
                    {}};
        }
        ::unlinkat(trash.info(), info.c_str(), 0);
        if (error != EEXIST) {
            return systemFailure(moveProblem(error), error);
        }
    }
    return failure(TrashProblem::TooManyNames, trash.path());
}

// Where the entry's record says the item came from; empty when the entry is no trash item of ours
// or its record is missing or damaged. A volume trash records paths relative to the volume's top.
std::string DesktopTrash::recordedOriginal(const TrashEntry& entry, TrashProblem& problem) const {
    const std::string files = parentOf(entry.trashedPath);
    const std::string trash = parentOf(files);
    const std::string name = nameOf(entry.trashedPath);
    if (nameOf(files) != "files" || name.empty() ||
        entry.infoPath != trash + "/info/" + name + std::string(kInfoSuffix) ||
        folders_.trashHolding(trash).empty()) {
        problem = TrashProblem::NotATrashEntry;
        return {};
    }
    const std::optional<TrashInfo> record = readRecord(entry.infoPath);
    if (!record || hasDotDot(record->path)) {
        problem = TrashProblem::RecordMismatch;
        return {};
    }
    if (record->path.front() == '/') {
        return record->path;
    }
    const std::string above = parentOf(trash);
    const std::string top = nameOf(above) == ".Trash" ? parentOf(above) : above;
    return (top == "/" ? std::string() : top) + "/" + record->path;
}

TrashOutcome DesktopTrash::restore(const TrashEntry& entry) {
    struct stat st {};
    if (::lstat(entry.trashedPath.c_str(), &st) != 0) {
        return systemFailure(TrashProblem::NotInTrash, errno);
    }
    TrashProblem problem = TrashProblem::None;
    const std::string recorded = recordedOriginal(entry, problem);
    if (recorded.empty()) {
        return failure(problem, entry.infoPath);
    }
    if (recorded != entry.originalPath) {
        return failure(TrashProblem::RecordMismatch, recorded);
    }
    const std::error_code error = renameNoReplace(entry.trashedPath, entry.originalPath);
    if (error == std::errc::file_exists) {
        return failure(TrashProblem::PlaceTaken, entry.originalPath);
    }
    if (error == std::errc::no_such_file_or_directory) {
        return failure(TrashProblem::FolderGone, parentOf(entry.originalPath));
    }
    if (error) {
        return failure(moveProblem(error.value()), error.message());
    }
    ::unlink(entry.infoPath.c_str());
    return {true, entry, TrashProblem::None, {}};
}

} // namespace tonemirror::os
