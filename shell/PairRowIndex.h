#pragma once

#include "engine/DuplicatePair.h"

#include <cstddef>
#include <functional>
#include <unordered_map>
#include <vector>

namespace tonemirror::shell {

// How a list of reported pairs takes the experimental scores that arrive after the pairs: a score
// belongs to the pair with the same two paths in the same order, and every row listing that pair
// takes it. A scan reports a pair once, but a list may still hold it twice (the same two files
// listed again by hand or by an older listing); a row left waiting for a score that went to its twin
// would never get one. A score for a pair no row lists is dropped.
//
// The index follows the rows by their positions: tell it of every appended row, and that rows moved
// after a removal or a sort (it is rebuilt at the next score then).
class PairRowIndex {
public:
    // The pair listed in a row.
    using PairAt = std::function<const engine::DuplicatePair&(std::size_t row)>;

    void clear();
    void appended(const engine::DuplicatePair& pair, std::size_t row);
    void rowsMoved();

    // The rows listing the score's pair, in row order; `rowCount` rows are listed now.
    std::vector<std::size_t> rowsOf(const engine::ExperimentalScore& score, std::size_t rowCount,
                                    const PairAt& pairAt);

private:
    void rebuild(std::size_t rowCount, const PairAt& pairAt);

    std::unordered_multimap<std::size_t, std::size_t> rows_; // hash of the two paths -> row
    bool valid_ = true;
};

// Copies the score (or why there is none) into a listed pair.
void applyScore(engine::DuplicatePair& row, const engine::ExperimentalScore& score);

} // namespace tonemirror::shell
