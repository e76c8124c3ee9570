#include "shell/PairRowIndex.h"

#include <algorithm>
#include <string>

namespace tonemirror::shell {

namespace {

std::size_t pathsHash(const std::u16string& path1, const std::u16string& path2) {
    const std::hash<std::u16string> hash;
    return hash(path1) * 31u + hash(path2);
}

} // namespace

void PairRowIndex::clear() {
    rows_.clear();
    valid_ = true;
}

void PairRowIndex::appended(const engine::DuplicatePair& pair, std::size_t row) {
    if (valid_) {
        rows_.emplace(pathsHash(pair.path1, pair.path2), row);
    }
}

void PairRowIndex::rowsMoved() {
    rows_.clear();
    valid_ = false;
}

void PairRowIndex::rebuild(std::size_t rowCount, const PairAt& pairAt) {
    rows_.clear();
    rows_.reserve(rowCount);
    for (std::size_t row = 0; row < rowCount; ++row) {
        const engine::DuplicatePair& pair = pairAt(row);
        rows_.emplace(pathsHash(pair.path1, pair.path2), row);
    }
    valid_ = true;
}

std::vector<std::size_t> PairRowIndex::rowsOf(const engine::ExperimentalScore& score, std::size_t rowCount,
                                              const PairAt& pairAt) {
    if (!valid_) {
        rebuild(rowCount, pairAt);
    }
    std::vector<std::size_t> found;
    const auto [begin, end] = rows_.equal_range(pathsHash(score.path1, score.path2));
    for (auto it = begin; it != end; ++it) {
        if (it->second >= rowCount) {
            continue;
        }
        const engine::DuplicatePair& pair = pairAt(it->second);
        if (pair.path1 == score.path1 && pair.path2 == score.path2) {
            found.push_back(it->second);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

void applyScore(engine::DuplicatePair& row, const engine::ExperimentalScore& score) {
    row.experimentalPercent = score.experimentalPercent;
    row.experimentalFailure = score.failure;
}

} // namespace tonemirror::shell
