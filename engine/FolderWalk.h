#pragma once

#include "engine/ScanControl.h"
#include "engine/ScanReach.h"
#include "platform/os/TrashFolders.h"

#include <functional>
#include <string>
#include <vector>

namespace tonemirror::engine {

// Walks one ticked folder for a scan: lists it and every folder below it, hands each regular file
// reached for the first time to `take`, and records in the scan's reach what it leaves out and why.
// Folders are entered depth first, each listed before any of its entries is visited, so a deep tree
// holds no descriptors open. Stops queuing once a stop is requested.
class FolderWalk {
public:
    using TakeFile = std::function<void(const std::u16string& path)>;

    FolderWalk(ScanReach& reach, const ScanControl& control, const os::TrashFolders& trashes, TakeFile take);

    // False when the folder itself cannot be listed (recorded as skipped) or was reached before.
    bool walk(const std::u16string& folder);

private:
    // Reads the names in a folder the scan has not reached before; false (recorded) when it cannot.
    bool listFolder(const std::u16string& folder, const std::string& native, std::vector<std::string>& names);
    // One entry of a folder: walked, taken or recorded as skipped.
    void visit(const std::u16string& path, const std::string& native);

    ScanReach& reach_;
    const ScanControl& control_;
    const os::TrashFolders& trashes_; // folders never walked
    TakeFile take_;
};

} // namespace tonemirror::engine
