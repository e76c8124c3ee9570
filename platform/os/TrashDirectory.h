#pragma once

#include "platform/os/DesktopTrash.h"

#include <string>
#include <sys/types.h>

namespace tonemirror::os {

// The trash folder one item goes to, opened and checked: its "files" and "info" folders are held
// open, so a link planted after the checks cannot redirect the move or the record.
class TrashDirectory {
public:
    // Picks and opens the trash for an item on `device` whose resolved path is `itemPath`: the home
    // trash when it lies on that device, else the volume's ".Trash/<uid>" (".Trash" a real folder with
    // the sticky bit), else ".Trash-<uid>" (a real folder of the user, mode 700; made when absent).
    // On failure valid() is false and problem() says why.
    TrashDirectory(const TrashEnvironment& environment, const std::string& itemPath, dev_t device);
    ~TrashDirectory();
    TrashDirectory(const TrashDirectory&) = delete;
    TrashDirectory& operator=(const TrashDirectory&) = delete;

    bool valid() const { return files_ >= 0 && info_ >= 0; }
    TrashProblem problem() const { return problem_; }
    const std::string& detail() const { return detail_; }
    int files() const { return files_; }
    int info() const { return info_; }
    const std::string& path() const { return path_; }
    // The volume top the records' paths are relative to; empty for the home trash (absolute paths).
    const std::string& top() const { return top_; }

    // The top of the volume holding `folder`: the last folder upwards on the same device.
    static std::string volumeTop(const std::string& folder);

private:
    bool openHome(const TrashEnvironment& environment);
    bool openOnVolume(unsigned uid);
    bool openSharedPart(int topFd, unsigned uid);
    bool openParts(int trashFd, unsigned uid);
    int openPart(int at, const std::string& name, unsigned uid, bool strict, TrashProblem cannotMake);
    void fail(TrashProblem problem, std::string detail);

    int files_ = -1;
    int info_ = -1;
    std::string path_;
    std::string top_;
    TrashProblem problem_ = TrashProblem::None;
    std::string detail_;
};

} // namespace tonemirror::os
