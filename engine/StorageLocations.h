#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace tonemirror::engine {

// Where the cache file and the ignore list live. By default each is looked for in the program's
// folder first and in the per-user data folder second (created when needed). An explicit file
// replaces both and has no fallback (tests, command-line options). Only a build tree's programs use
// their own folder; an installed copy never writes into it, whoever runs it.
struct StorageLocations {
    std::filesystem::path programFolder;
    std::filesystem::path userDataFolder;
    std::filesystem::path cacheFile;      // explicit "cache.dat", or empty
    std::filesystem::path ignoreListFile; // explicit "ignores.list", or empty

    static constexpr const char* kCacheFileName = "cache.dat";
    static constexpr const char* kIgnoreListFileName = "ignores.list";

    static constexpr const char* kBuildTreeMarker = "tonemirror-build-tree";

    // The program's own folders; the program folder only when it is a build tree's.
    static StorageLocations standard();
    // True for a build tree's output folder: it holds the regular file kBuildTreeMarker, which the
    // build writes and the install step never copies.
    static bool isBuildTree(const std::filesystem::path& programFolder);

    struct Candidate {
        std::filesystem::path file;
        bool inUserData = false; // its folder has to be created before the file is opened
    };
    // Candidate files in the order they are tried.
    std::vector<Candidate> cacheCandidates() const;
    std::vector<Candidate> ignoreListCandidates() const;

    bool createUserDataFolder() const;

    // The candidate the program would open, found without opening, creating or locking anything:
    // the first whose file exists and is readable and writable, or is missing in a folder where it
    // can be created (a missing user-data folder counts, since it would be created). nullopt when
    // none qualifies.
    static std::optional<Candidate> firstUsable(const std::vector<Candidate>& candidates);

private:
    std::vector<Candidate> candidates(const std::filesystem::path& explicitFile, const char* name) const;
};

} // namespace tonemirror::engine
