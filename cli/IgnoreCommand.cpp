#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "engine/EngineResults.h"
#include "engine/StorageLocations.h"
#include "engine/TrackStore.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"

#include <iostream>

namespace tonemirror::cli {

namespace {

constexpr const char* kUsage = "usage: tonemirror-cli ignore list|add PATH1 PATH2 [--ignore-list FILE]";

int list(engine::TrackStore& store) {
    if (failed(store.loadIgnoreList())) {
        printError("no ignore list can be read (looked in the program folder and the user folder)");
        return kExitFailure;
    }
    if (!store.ignoreListClean()) {
        printError("'" + displayPath(store.ignoreListPath().native()) +
                   "' holds text that is not a pair of paths; only its complete pairs are listed");
    }
    engine::SharedTableLockHolder hold(store.lock());
    for (const auto& [first, second] : store.ignoreSet()) {
        std::cout << '"' << displayText(first) << "\",\"" << displayText(second) << "\"\n";
    }
    return kExitOk;
}

int add(engine::TrackStore& store, const std::string& path1, const std::string& path2) {
    const auto full = [](const std::string& p) {
        return os::fromNativePath(std::filesystem::absolute(p).lexically_normal());
    };
    const std::u16string first = full(path1);
    const std::u16string second = full(path2);
    if (first.find(u'"') != std::u16string::npos || second.find(u'"') != std::u16string::npos) {
        printError("a path holding a double quote cannot be stored in the ignore list");
        return kExitFailure;
    }
    // A list that cannot be read yet is created by the save below.
    (void)store.loadIgnoreList();
    const HResult added = store.ignorePair(first, second);
    if (failed(store.saveIgnoreList())) {
        printError(
            "cannot write the ignore list (it could not be read, locked or replaced); it is unchanged");
        return kExitFailure;
    }
    if (!store.ignoreListKeptAside().empty()) {
        printError("the ignore list held text that is not a pair of paths; it was kept as '" +
                   displayPath(store.ignoreListKeptAside().native()) +
                   "' and its complete pairs were carried over");
    }
    std::cout << (added == engine::E_ALREADY_PRESENT ? "already ignored" : "ignored") << " in "
              << displayPath(store.ignoreListPath().native()) << '\n';
    return kExitOk;
}

} // namespace

int runIgnore(const Args& args, const audio::PluginList&) {
    std::vector<std::string> positional;
    std::string explicitFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--ignore-list") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                printError(kUsage);
                return kExitUsage;
            }
            explicitFile = args[++i];
        } else {
            positional.push_back(args[i]);
        }
    }
    const bool isList = positional.size() == 1 && positional[0] == "list";
    const bool isAdd =
        positional.size() == 3 && positional[0] == "add" && !positional[1].empty() && !positional[2].empty();
    if (!isList && !isAdd) {
        printError(kUsage);
        return kExitUsage;
    }
    auto locations = engine::StorageLocations::standard();
    if (!explicitFile.empty()) {
        locations.ignoreListFile = std::filesystem::absolute(explicitFile);
    }
    engine::TrackStore store(locations);
    return isList ? list(store) : add(store, positional[1], positional[2]);
}

} // namespace tonemirror::cli
