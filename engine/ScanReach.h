#pragma once

#include "engine/SkippedItem.h"
#include "platform/os/FileIdentity.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tonemirror::engine {

// The files and folders one scan has reached, by device and inode, and what it left out on the
// way. One file reached through several names (links, a folder ticked twice) is taken once, under
// the first name reached. Safe to use from every worker at once.
class ScanReach {
public:
    // At most this many skipped items are kept; the count goes on.
    static constexpr std::size_t kMaxListed = 100000;

    void clear();

    // True when `path` is the first name by which this scan reaches the file (or folder); otherwise
    // the item is recorded as skipped, naming the first.
    bool reachFile(const os::FileKey& key, const std::u16string& path);
    bool reachFolder(const os::FileKey& key, const std::u16string& path);
    bool wasReached(const os::FileKey& key) const;

    void skip(std::u16string path, SkipReason reason, std::u16string detail = {});
    std::vector<SkippedItem> skipped() const;
    std::size_t skippedCount() const;

private:
    bool reach(std::map<os::FileKey, std::u16string>& names, const os::FileKey& key,
               const std::u16string& path, SkipReason again);
    void skipLocked(std::u16string path, SkipReason reason, std::u16string detail);

    mutable std::mutex mutex_;
    std::map<os::FileKey, std::u16string> files_;
    std::map<os::FileKey, std::u16string> folders_;
    std::vector<SkippedItem> skipped_;
    std::size_t skippedCount_ = 0;
};

} // namespace tonemirror::engine
