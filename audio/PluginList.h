#pragma once

#include "platform/os/SharedLibrary.h"
#include "plugin-api/PluginApi.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tonemirror::audio {

// One loaded plug-in library and its entry point.
struct PluginEntry {
    std::filesystem::path path;
    os::SharedLibrary library;
    GetInterfaceFn getInterface = nullptr;

    // File name without extension ("compresscodec"), for messages.
    std::string name() const { return path.stem().string(); }
};

// The loaded codec plug-ins, in folder order. Filled once at start-up, only read afterwards, emptied
// at exit after every AudioSource and TagAccess is gone.
class PluginList {
public:
    PluginList() = default;
    ~PluginList();
    PluginList(const PluginList&) = delete;
    PluginList& operator=(const PluginList&) = delete;

    // Loads every "*.so" in the folder that exports GetInterface; others are skipped silently.
    // S_OK (also for an empty or missing folder); E_FAIL when the folder cannot be determined.
    HResult loadAll(const std::filesystem::path& folder);
    // Same, from the folder of the running program.
    HResult loadFromProgramFolder();
    // Unloads every library in list order and empties the list.
    void freeAll();

    const std::vector<PluginEntry>& entries() const { return entries_; }

private:
    std::vector<PluginEntry> entries_;
};

} // namespace tonemirror::audio
