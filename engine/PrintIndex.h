#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tonemirror::engine {

// Finds the tracks whose acoustic print shares words with a query's: an inverted index from each
// distinct word of a print to the tracks holding it. With verification a pair of tracks with prints
// is reported only when their words make kNearWordPairs pairs that differ in at most one bit (see
// PairScorer), so a query, which looks up every word of the query print and each of its one-bit
// neighbours, names exactly those candidates, whatever their content scores. An open-addressing
// table maps a word to its newest entry; entries of one word chain back to older ones: about 16
// bytes per distinct word of each print. Not synchronised, like ContentIndex.
class PrintIndex {
public:
    void clear();
    // Adds the distinct words (distinctPrintWords) of the track at `position`, one more than the
    // last added.
    void add(std::uint32_t position, std::span<const std::uint32_t> words);

    // Calls visit(position) for every added track before `below` once for each pair of one of its
    // words and one of `words` (ascending, distinct) that differ in at most one bit, the count that
    // nearWordPairs gives.
    template <typename Visit>
    void query(std::span<const std::uint32_t> words, std::uint32_t below, Visit&& visit) const;

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;
    struct Slot {
        std::uint32_t word = 0;
        std::uint32_t newest = kNone; // kNone: the slot is free
    };
    struct Entry {
        std::uint32_t position;
        std::uint32_t older; // the previous entry of the same word, or kNone
    };

    std::size_t slotOf(std::uint32_t word) const;
    void grow();

    std::vector<Slot> slots_; // a power of two in size, at most half used
    std::size_t used_ = 0;
    std::vector<Entry> entries_;
};

template <typename Visit>
void PrintIndex::query(std::span<const std::uint32_t> words, std::uint32_t below, Visit&& visit) const {
    if (slots_.empty()) {
        return;
    }
    for (const std::uint32_t word : words) {
        for (int bit = -1; bit < 32; ++bit) {
            const std::uint32_t probe = bit < 0 ? word : word ^ (1u << bit);
            const Slot& slot = slots_[slotOf(probe)];
            // Entries go back from the newest, so the later positions come first.
            for (std::uint32_t e = slot.newest; e != kNone; e = entries_[e].older) {
                if (entries_[e].position < below) {
                    visit(entries_[e].position);
                }
            }
        }
    }
}

} // namespace tonemirror::engine
