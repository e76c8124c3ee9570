#include "audio/PluginList.h"

#include "platform/os/Paths.h"

#include <algorithm>

namespace tonemirror::audio {

PluginList::~PluginList() {
    freeAll();
}

HResult PluginList::loadAll(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return E_FAIL;
    }
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto& p = it->path();
        if (p.extension() == ".so") {
            files.push_back(p);
        }
    }
    // Directory order is arbitrary on Linux; a sorted listing keeps the plug-in order reproducible.
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        PluginEntry entry;
        entry.path = file;
        if (!entry.library.load(file)) {
            continue;
        }
        auto* fn = reinterpret_cast<GetInterfaceFn>(entry.library.symbol(TM_GET_INTERFACE_NAME));
        if (fn == nullptr) {
            continue; // entry's destructor unloads the library at once
        }
        entry.getInterface = fn;
        entries_.push_back(std::move(entry));
    }
    return S_OK;
}

HResult PluginList::loadFromProgramFolder() {
    return loadAll(os::programFolder());
}

void PluginList::freeAll() {
    for (auto& entry : entries_) {
        entry.library.unload();
    }
    entries_.clear();
}

} // namespace tonemirror::audio
