#include "engine/StorageLocations.h"

#include "platform/os/Paths.h"

#include <system_error>
#include <unistd.h>

namespace tonemirror::engine {

StorageLocations StorageLocations::standard() {
    StorageLocations l;
    // Write access alone decides nothing: root may write anywhere, an installed folder included.
    if (const std::filesystem::path folder = os::programFolder(); isBuildTree(folder)) {
        l.programFolder = folder;
    }
    l.userDataFolder = os::userDataFolder();
    return l;
}

bool StorageLocations::isBuildTree(const std::filesystem::path& programFolder) {
    std::error_code ec;
    return !programFolder.empty() && std::filesystem::is_regular_file(std::filesystem::symlink_status(
                                         programFolder / kBuildTreeMarker, ec));
}

std::vector<StorageLocations::Candidate>
StorageLocations::candidates(const std::filesystem::path& explicitFile, const char* name) const {
    if (!explicitFile.empty()) {
        return {{explicitFile, false}};
    }
    std::vector<Candidate> out;
    if (!programFolder.empty()) {
        out.push_back({programFolder / name, false});
    }
    if (!userDataFolder.empty()) {
        out.push_back({userDataFolder / name, true});
    }
    return out;
}

std::vector<StorageLocations::Candidate> StorageLocations::cacheCandidates() const {
    return candidates(cacheFile, kCacheFileName);
}

std::vector<StorageLocations::Candidate> StorageLocations::ignoreListCandidates() const {
    return candidates(ignoreListFile, kIgnoreListFileName);
}

bool StorageLocations::createUserDataFolder() const {
    if (userDataFolder.empty()) {
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(userDataFolder, ec);
    return !ec && std::filesystem::is_directory(userDataFolder, ec);
}

std::optional<StorageLocations::Candidate>
StorageLocations::firstUsable(const std::vector<Candidate>& candidates) {
    for (const auto& candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::exists(candidate.file, ec)) {
            if (::access(candidate.file.c_str(), R_OK | W_OK) == 0) {
                return candidate;
            }
            continue;
        }
        // Walk up to the nearest existing folder: that is where creation would start.
        std::filesystem::path folder = candidate.file.parent_path();
        while (!folder.empty() && !std::filesystem::exists(folder, ec)) {
            if (!candidate.inUserData || folder == folder.parent_path()) {
                folder.clear();
                break;
            }
            folder = folder.parent_path();
        }
        if (!folder.empty() && std::filesystem::is_directory(folder, ec) && os::isFolderWritable(folder)) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace tonemirror::engine
