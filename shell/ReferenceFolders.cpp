#include "shell/ReferenceFolders.h"

#include "platform/os/Paths.h"
#include "shell/ResolvePlan.h"

#include <algorithm>

namespace tonemirror::shell {

namespace {

// "/music/" and "/music" name one folder; the root stays "/".
std::u16string_view withoutTrailingSeparator(std::u16string_view folder) {
    while (folder.size() > 1 && folder.back() == os::kNativeSeparator) {
        folder.remove_suffix(1);
    }
    return folder;
}

} // namespace

ReferenceFolders::ReferenceFolders(std::vector<std::u16string> folders) {
    for (const std::u16string& folder : folders) {
        if (!folder.empty()) {
            set(folder, true);
        }
    }
}

bool ReferenceFolders::isChosen(std::u16string_view folder) const {
    folder = withoutTrailingSeparator(folder);
    return std::find(folders_.begin(), folders_.end(), folder) != folders_.end();
}

bool ReferenceFolders::covers(std::u16string_view path) const {
    return std::any_of(folders_.begin(), folders_.end(),
                       [&](const std::u16string& folder) { return isInFolder(path, folder); });
}

bool ReferenceFolders::set(std::u16string_view folder, bool chosen) {
    folder = withoutTrailingSeparator(folder);
    const auto found = std::find(folders_.begin(), folders_.end(), folder);
    if (chosen == (found != folders_.end()) || folder.empty()) {
        return false;
    }
    if (chosen) {
        folders_.emplace_back(folder);
    } else {
        folders_.erase(found);
    }
    return true;
}

} // namespace tonemirror::shell
