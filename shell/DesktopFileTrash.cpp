#include "shell/DesktopFileTrash.h"

namespace tonemirror::shell {

namespace {

std::string why(const os::TrashOutcome& outcome) {
    std::string text = os::describeTrashProblem(outcome.problem);
    return outcome.detail.empty() ? text : text + " (" + outcome.detail + ")";
}

} // namespace

std::string DesktopFileTrash::moveToTrash(const std::string& path, TrashedFile& entry) {
    const os::TrashOutcome outcome = trash_.moveToTrash(path);
    if (!outcome.ok) {
        return why(outcome);
    }
    entry = {outcome.entry.originalPath, outcome.entry.trashedPath, outcome.entry.infoPath};
    return {};
}

std::string DesktopFileTrash::restore(const TrashedFile& entry) {
    const os::TrashOutcome outcome = trash_.restore({entry.originalPath, entry.trashedPath, entry.infoPath});
    return outcome.ok ? std::string() : why(outcome);
}

} // namespace tonemirror::shell
