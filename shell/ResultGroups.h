#pragma once

#include "engine/DuplicatePair.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tonemirror::shell {

// The reported pairs seen as groups: every file that is linked to another through a chain of pairs
// belongs to the same group. Files are numbered in the order they first appear in the pairs; a group
// lists its files in that order. Whether two files are duplicates of each other is still answered
// by the pairs alone: in a chain A~B~C, A and C share a group but are no pair.
class ResultGroups {
public:
    using FileIndex = std::uint32_t;

    struct Group {
        std::vector<FileIndex> files;
        std::vector<std::size_t> pairs; // indexes into the pairs the groups were made from
    };

    // `pairs` is kept by reference and must outlive the groups.
    explicit ResultGroups(const std::vector<engine::DuplicatePair>& pairs);

    const std::vector<Group>& groups() const { return groups_; }
    std::size_t fileCount() const { return paths_.size(); }
    const std::u16string& path(FileIndex file) const { return paths_[file]; }
    std::size_t groupOf(FileIndex file) const { return groupOfFile_[file]; }
    // The file's number, or fileCount() for a path in no pair.
    FileIndex find(const std::u16string& path) const;

    // The first reported pair of the two files (either order), or null when they were never paired.
    const engine::DuplicatePair* pairOf(FileIndex a, FileIndex b) const;
    bool paired(FileIndex a, FileIndex b) const { return pairOf(a, b) != nullptr; }

private:
    FileIndex indexOf(const std::u16string& path);
    void collectGroups(std::vector<FileIndex>& parent);

    const std::vector<engine::DuplicatePair>& pairs_;
    std::vector<std::u16string> paths_;
    std::unordered_map<std::u16string, FileIndex> indexOfPath_;
    std::unordered_map<std::uint64_t, std::size_t> pairOfFiles_; // smaller index in the high half
    std::vector<std::size_t> groupOfFile_;
    std::vector<Group> groups_;
};

} // namespace tonemirror::shell
