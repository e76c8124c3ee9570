#include "shell/FileActions.h"

#include "platform/os/FileIdentity.h"
#include "platform/os/Paths.h"
#include "platform/os/Rename.h"
#include "shell/ResolvePlan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace tonemirror::shell {

namespace {

namespace fs = std::filesystem;

bool inFolder(const std::string& path, const std::string& folder) {
    return isInFolder(os::fromNativeName(path), os::fromNativeName(folder));
}

bool placeTaken(const std::string& path) {
    return currentFile(path).has_value();
}

ActionRecord failed(std::string why) {
    ActionRecord r;
    r.state = ActionRecord::State::Failed;
    r.why = std::move(why);
    return r;
}

ActionRecord undoRefused(std::string why) {
    ActionRecord r;
    r.state = ActionRecord::State::UndoRefused;
    r.why = std::move(why);
    return r;
}

std::string systemError(const char* what, int error) {
    return std::string(what) + " (" + std::strerror(error) + ")";
}

ActionRecord doMove(const FileAction& a) {
    std::error_code ec;
    fs::create_directories(fs::path(a.target).parent_path(), ec);
    if (ec) {
        return failed(systemError("the destination folder cannot be made", ec.value()));
    }
    ec = os::renameNoReplace(a.path, a.target);
    if (ec == std::errc::file_exists) {
        return failed("a file of that name is already in the destination folder");
    }
    if (ec == std::errc::cross_device_link) {
        return failed("the destination is on another file system; only moves within one are made");
    }
    if (ec) {
        return failed(systemError("the file cannot be moved", ec.value()));
    }
    ActionRecord r;
    r.state = ActionRecord::State::Done;
    return r;
}

// The link is made beside the file first, so a failure leaves the original untouched.
ActionRecord doLink(const FileAction& a, FileTrash& trash) {
    const std::string temp = linkTempName(a.path);
    ActionRecord r;
    if (::link(a.target.c_str(), temp.c_str()) != 0) {
        if (errno != EXDEV || ::symlink(fs::absolute(a.target).c_str(), temp.c_str()) != 0) {
            return failed(systemError("the link cannot be made", errno));
        }
        r.symbolic = true;
    }
    if (std::string why = trash.moveToTrash(a.path, r.trashed); !why.empty()) {
        ::unlink(temp.c_str());
        return failed("the original cannot be moved to the trash: " + why);
    }
    if (const auto ec = os::renameNoReplace(temp, a.path); ec) {
        trash.restore(r.trashed); // someone took the name meanwhile: put the original back
        ::unlink(temp.c_str());
        return failed(systemError("the link cannot take the file's place", ec.value()));
    }
    r.state = ActionRecord::State::Done;
    return r;
}

// True when `path` is the link this action made.
bool isOurLink(const FileAction& a, const ActionRecord& done, const std::string& path) {
    std::error_code ec;
    if (done.symbolic) {
        return fs::is_symlink(path, ec) && fs::read_symlink(path, ec) == fs::absolute(a.target);
    }
    const auto now = currentFile(path);
    return now && now->device == a.keptExpected.device && now->inode == a.keptExpected.inode;
}

ActionRecord undoLink(const FileAction& a, const ActionRecord& done, FileTrash& trash) {
    if (!isOurLink(a, done, a.path)) {
        return undoRefused("its place holds another file than the link that replaced it");
    }
    const std::string aside = linkTempName(a.path);
    if (const auto ec = os::renameNoReplace(a.path, aside); ec) {
        return undoRefused(systemError("the link cannot be moved aside", ec.value()));
    }
    if (std::string why = trash.restore(done.trashed); !why.empty()) {
        os::renameNoReplace(aside, a.path);
        return undoRefused("the original cannot be taken from the trash: " + why);
    }
    ::unlink(aside.c_str()); // only a link we made, to a file that stays
    ActionRecord r;
    r.state = ActionRecord::State::Undone;
    return r;
}

ActionRecord undoMove(const FileAction& a) {
    const auto moved = currentFile(a.target);
    if (!moved || moved->device != a.expected.device || moved->inode != a.expected.inode) {
        return undoRefused("the moved file is no longer where it was moved to");
    }
    std::error_code ec;
    fs::create_directories(fs::path(a.path).parent_path(), ec);
    ec = os::renameNoReplace(a.target, a.path);
    if (ec) {
        return undoRefused(ec == std::errc::file_exists ? "its original place is taken by another file"
                                                        : systemError("it cannot be moved back", ec.value()));
    }
    ActionRecord r;
    r.state = ActionRecord::State::Undone;
    return r;
}

} // namespace

std::optional<ExpectedFile> currentFile(const std::string& path) {
    const auto id = os::identify(path, false);
    if (!id) {
        return std::nullopt;
    }
    return ExpectedFile{id->key.device, id->key.inode, id->size, id->modifiedSeconds,
                        id->modifiedNanoseconds};
}

std::string refusalOf(const FileAction& a, const std::vector<std::string>& referenceFolders,
                      const std::vector<std::string>& batchPaths) {
    for (const auto& folder : referenceFolders) {
        if (inFolder(a.path, folder)) {
            return "it is in a reference folder";
        }
    }
    const auto now = currentFile(a.path);
    if (!now) {
        return "it is no longer there";
    }
    if (!(*now == a.expected)) {
        return "it has changed since it was scanned";
    }
    if (a.kept.empty()) {
        // The user's own Delete of an item chosen by hand: no copy has to stay, and a folder may go.
        return a.kind == ActionKind::Trash
                   ? std::string()
                   : "the copy kept in its group is gone or has changed, so this may be the last one";
    }
    if (os::identify(a.path, false)->kind != os::FileKind::Regular) {
        return "it has changed since it was scanned";
    }
    const auto kept = currentFile(a.kept);
    if (a.kept == a.path || std::find(batchPaths.begin(), batchPaths.end(), a.kept) != batchPaths.end()) {
        return "the copy kept in its group would go too";
    }
    if (!kept || !(*kept == a.keptExpected)) {
        return "the copy kept in its group is gone or has changed, so this may be the last one";
    }
    return {};
}

ActionRecord performAction(const FileAction& a, FileTrash& trash) {
    switch (a.kind) {
    case ActionKind::Trash: {
        ActionRecord r;
        if (std::string why = trash.moveToTrash(a.path, r.trashed); !why.empty()) {
            return failed(why);
        }
        r.state = ActionRecord::State::Done;
        return r;
    }
    case ActionKind::Move:
        return doMove(a);
    case ActionKind::Link:
        return doLink(a, trash);
    }
    return failed("unknown action");
}

ActionRecord undoAction(const FileAction& a, const ActionRecord& done, FileTrash& trash) {
    if (const auto now = currentFile(a.path); now && *now == a.expected) {
        ActionRecord back; // an undo cut short by a kill had already put it back
        back.state = ActionRecord::State::Undone;
        return back;
    }
    if (a.kind == ActionKind::Move) {
        return undoMove(a);
    }
    if (done.trashed.trashedPath.empty()) {
        return undoRefused("where it went in the trash is not known; restore it from the trash by hand");
    }
    if (a.kind == ActionKind::Link) {
        return undoLink(a, done, trash);
    }
    if (placeTaken(a.path)) {
        return undoRefused("its original place is taken by another file");
    }
    std::error_code ec;
    fs::create_directories(fs::path(a.path).parent_path(), ec);
    if (std::string why = trash.restore(done.trashed); !why.empty()) {
        return undoRefused("it cannot be taken from the trash: " + why);
    }
    ActionRecord r;
    r.state = ActionRecord::State::Undone;
    return r;
}

std::string moveTarget(const std::string& path, const std::vector<std::string>& scanned,
                       const std::string& folder) {
    std::string root;
    for (const auto& s : scanned) {
        if (inFolder(path, s) && s.size() > root.size()) {
            root = s;
        }
    }
    std::string below = path.substr(std::min(root.size(), path.size()));
    below.erase(0, below.find_first_not_of('/'));
    return (fs::path(folder) / below).string();
}

std::string linkTempName(const std::string& path) {
    return path + ".tonemirror-link";
}

} // namespace tonemirror::shell
