#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "engine/CacheFormat.h"
#include "engine/FileIo.h"
#include "engine/IgnoreSet.h"
#include "engine/StorageLocations.h"
#include "engine/TrackStore.h"
#include "engine/TrackTable.h"
#include "platform/os/FileIdentity.h"

#include <fcntl.h>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace tonemirror::cli {

namespace {

constexpr const char* kUsage = "usage: tonemirror-cli cache stats|clear [--cache FILE]";

// The cache file the program would use (or the one given), without creating anything: the same
// choice a scan makes, said on stderr.
std::optional<std::filesystem::path> locateCache(const std::string& action, const std::string& explicitFile) {
    if (!explicitFile.empty()) {
        const auto file = std::filesystem::absolute(explicitFile);
        sayCacheChoice("cache " + action, {}, file);
        return file;
    }
    const engine::TrackStore store(engine::StorageLocations::standard());
    std::vector<engine::TrackStore::CacheAttempt> passedOver;
    const auto found = store.findCache(passedOver);
    if (!found) {
        for (const auto& attempt : passedOver) {
            printError("cache " + action + ": " + cacheProblem(attempt.file, attempt.result));
        }
        printError("no usable location for the cache file (user folder '" +
                   displayPath(store.locations().userDataFolder.native()) + "')");
        return std::nullopt;
    }
    sayCacheChoice("cache " + action, passedOver, *found);
    return found;
}

int stats(const std::filesystem::path& file) {
    std::cout << "location: " << displayPath(file.native()) << '\n';
    const os::OpenedFile opened = os::openRegularFile(file, O_RDONLY);
    const int fd = opened.fd;
    if (fd < 0) {
        if (opened.refusal != os::OpenRefusal::CannotOpen || opened.error != ENOENT) {
            printError(cacheProblem(file, opened.refusal == os::OpenRefusal::CannotOpen
                                              ? engine::CacheFile::OpenResult::CannotOpen
                                              : engine::CacheFile::OpenResult::NotRegular));
            return kExitFailure;
        }
        std::cout << "tracks: 0\nbytes: 0\nignored pairs: 0\nstate: not created yet\n";
        return kExitOk;
    }
    // Only the header is read from a file that is not a cache; a cache is read in bounded windows.
    const auto size = engine::fileSize(fd);
    const auto head = engine::readHead(fd, engine::cache::kHeaderSize);
    const bool ours = head && engine::cache::mayBeCacheFile(*head);
    engine::TrackTable table;
    engine::IgnoreSet ignored;
    const auto parsed = size && ours
                            ? engine::cache::parseFile(fd, *size, table, ignored)
                            : std::optional<engine::cache::ParseResult>(engine::cache::ParseResult{});
    ::close(fd);
    if (!size || !head || !parsed) {
        printError("cannot read '" + displayPath(file.native()) + "'");
        return kExitFailure;
    }
    std::cout << "tracks: " << table.size() << '\n'
              << "bytes: " << *size << '\n'
              << "ignored pairs: " << ignored.size() << '\n';
    if (!ours) {
        std::cout << "state: not a cache file (never used or changed by Tonemirror)\n";
    } else if (!parsed->headerValid) {
        std::cout << "state: " << (*size == 0 ? "empty" : "not a cache file of this version")
                  << " (reset at the next start)\n";
    } else if (parsed->goodEnd < *size) {
        std::cout << "state: damaged tail of " << *size - parsed->goodEnd
                  << " bytes (cut at the next start)\n";
    } else {
        std::cout << "state: ok\n";
    }
    return kExitOk;
}

int clear(const std::filesystem::path& file) {
    engine::StorageLocations locations;
    locations.cacheFile = file;
    engine::TrackStore store(locations);
    if (failed(store.openCache())) {
        printError(cacheProblem(file, store.cacheAttempts().empty()
                                          ? engine::CacheFile::OpenResult::CannotOpen
                                          : store.cacheAttempts().front().result));
        return kExitFailure;
    }
    std::size_t tracks = 0;
    std::size_t pairs = 0;
    {
        engine::SharedTableLockHolder hold(store.lock());
        tracks = store.table().size();
        pairs = store.ignoreSet().size();
    }
    store.clearCache();
    std::cout << "cleared " << displayPath(file.native()) << ": " << tracks << " tracks and " << pairs
              << " ignored pairs removed\n";
    return kExitOk;
}

} // namespace

int runCache(const Args& args, const audio::PluginList&) {
    if (args.empty() || (args[0] != "stats" && args[0] != "clear")) {
        printError(kUsage);
        return kExitUsage;
    }
    std::string explicitFile;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--cache" && i + 1 < args.size() && !args[i + 1].empty()) {
            explicitFile = args[++i];
        } else {
            printError(kUsage);
            return kExitUsage;
        }
    }
    const auto file = locateCache(args[0], explicitFile);
    if (!file) {
        return kExitFailure;
    }
    return args[0] == "stats" ? stats(*file) : clear(*file);
}

} // namespace tonemirror::cli
