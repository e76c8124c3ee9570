#include "shell/ResultGroups.h"

#include <numeric>
#include <utility>

namespace tonemirror::shell {

namespace {

using FileIndex = ResultGroups::FileIndex;

std::uint64_t pairKey(FileIndex a, FileIndex b) {
    if (a > b) {
        std::swap(a, b);
    }
    return (static_cast<std::uint64_t>(a) << 32) | b;
}

// The root of `file`'s set, halving the path on the way so later lookups stay short.
FileIndex rootOf(std::vector<FileIndex>& parent, FileIndex file) {
    while (parent[file] != file) {
        parent[file] = parent[parent[file]];
        file = parent[file];
    }
    return file;
}

} // namespace

ResultGroups::ResultGroups(const std::vector<engine::DuplicatePair>& pairs) : pairs_(pairs) {
    std::vector<std::pair<FileIndex, FileIndex>> ends;
    ends.reserve(pairs.size());
    for (const auto& p : pairs) {
        const FileIndex a = indexOf(p.path1);
        const FileIndex b = indexOf(p.path2);
        ends.emplace_back(a, b);
    }
    std::vector<FileIndex> parent(paths_.size());
    std::iota(parent.begin(), parent.end(), FileIndex{0});
    for (std::size_t i = 0; i < ends.size(); ++i) {
        const auto [a, b] = ends[i];
        pairOfFiles_.try_emplace(pairKey(a, b), i);
        const FileIndex ra = rootOf(parent, a);
        const FileIndex rb = rootOf(parent, b);
        if (ra != rb) {
            // The lower number stays the root, so a group's number follows its first file.
            parent[std::max(ra, rb)] = std::min(ra, rb);
        }
    }
    collectGroups(parent);
    for (std::size_t i = 0; i < ends.size(); ++i) {
        groups_[groupOfFile_[ends[i].first]].pairs.push_back(i);
    }
}

void ResultGroups::collectGroups(std::vector<FileIndex>& parent) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> groupOfRoot(paths_.size(), kNone);
    groupOfFile_.assign(paths_.size(), 0);
    for (FileIndex f = 0; f < paths_.size(); ++f) {
        const FileIndex root = rootOf(parent, f);
        if (groupOfRoot[root] == kNone) {
            groupOfRoot[root] = groups_.size();
            groups_.emplace_back();
        }
        groupOfFile_[f] = groupOfRoot[root];
        groups_[groupOfRoot[root]].files.push_back(f);
    }
}

ResultGroups::FileIndex ResultGroups::indexOf(const std::u16string& path) {
    const auto [it, added] = indexOfPath_.try_emplace(path, static_cast<FileIndex>(paths_.size()));
    if (added) {
        paths_.push_back(path);
    }
    return it->second;
}

ResultGroups::FileIndex ResultGroups::find(const std::u16string& path) const {
    const auto it = indexOfPath_.find(path);
    return it == indexOfPath_.end() ? static_cast<FileIndex>(paths_.size()) : it->second;
}

const engine::DuplicatePair* ResultGroups::pairOf(FileIndex a, FileIndex b) const {
    if (a == b) {
        return nullptr;
    }
    const auto it = pairOfFiles_.find(pairKey(a, b));
    return it == pairOfFiles_.end() ? nullptr : &pairs_[it->second];
}

} // namespace tonemirror::shell
