#include "engine/ScanReach.h"

namespace tonemirror::engine {

const char* skipReasonText(SkipReason reason) {
    switch (reason) {
    case SkipReason::UnreadableFolder:
        return "folder cannot be read";
    case SkipReason::PathTooLong:
        return "path longer than the system allows";
    case SkipReason::SpecialFile:
        return "not a regular file (pipe, socket or device)";
    case SkipReason::KernelFiles:
        return "kernel file system, holds no music";
    case SkipReason::LinkToFolder:
        return "link to a folder, not followed";
    case SkipReason::BrokenLink:
        return "link to nothing";
    case SkipReason::SameFile:
        return "another name of a file already scanned";
    case SkipReason::SameFolder:
        return "another name of a folder already scanned";
    case SkipReason::TrashFolder:
        return "the desktop's trash, not scanned";
    case SkipReason::NotAudio:
        return "not audio, or no decoder reads it";
    case SkipReason::TooShort:
        return "too short to compare";
    case SkipReason::Silent:
        return "silent opening";
    case SkipReason::Undecodable:
        return "cannot be decoded";
    }
    return "skipped";
}

std::optional<SkipReason> skipReasonOf(analysis::AnalysisFailure failure) {
    switch (failure) {
    case analysis::AnalysisFailure::noDecoder:
        return SkipReason::NotAudio;
    case analysis::AnalysisFailure::tooShort:
        return SkipReason::TooShort;
    case analysis::AnalysisFailure::silent:
        return SkipReason::Silent;
    case analysis::AnalysisFailure::badSamples:
    case analysis::AnalysisFailure::none: // failed without naming why
        return SkipReason::Undecodable;
    case analysis::AnalysisFailure::stopped:
        break;
    }
    return std::nullopt;
}

void ScanReach::clear() {
    std::lock_guard lock(mutex_);
    files_.clear();
    folders_.clear();
    skipped_.clear();
    skippedCount_ = 0;
}

bool ScanReach::reach(std::map<os::FileKey, std::u16string>& names, const os::FileKey& key,
                      const std::u16string& path, SkipReason again) {
    std::lock_guard lock(mutex_);
    const auto [it, first] = names.try_emplace(key, path);
    if (!first) {
        skipLocked(path, again, it->second);
    }
    return first;
}

bool ScanReach::reachFile(const os::FileKey& key, const std::u16string& path) {
    return reach(files_, key, path, SkipReason::SameFile);
}

bool ScanReach::reachFolder(const os::FileKey& key, const std::u16string& path) {
    return reach(folders_, key, path, SkipReason::SameFolder);
}

bool ScanReach::wasReached(const os::FileKey& key) const {
    std::lock_guard lock(mutex_);
    return files_.contains(key);
}

void ScanReach::skip(std::u16string path, SkipReason reason, std::u16string detail) {
    std::lock_guard lock(mutex_);
    skipLocked(std::move(path), reason, std::move(detail));
}

void ScanReach::skipLocked(std::u16string path, SkipReason reason, std::u16string detail) {
    ++skippedCount_;
    if (skipped_.size() < kMaxListed) {
        skipped_.push_back({std::move(path), reason, std::move(detail)});
    }
}

std::vector<SkippedItem> ScanReach::skipped() const {
    std::lock_guard lock(mutex_);
    return skipped_;
}

std::size_t ScanReach::skippedCount() const {
    std::lock_guard lock(mutex_);
    return skippedCount_;
}

} // namespace tonemirror::engine
