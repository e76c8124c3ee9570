#include "engine/StorageLocations.h"

#include "platform/os/Paths.h"

#include <system_error>

namespace tonemirror::engine {

StorageLocations StorageLocations::standard() {
    StorageLocations l;
    l.programFolder = os::programFolder();
    l.userDataFolder = os::userDataFolder();
    return l;
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

} // namespace tonemirror::engine
