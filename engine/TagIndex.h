#pragma once

#include "analysis/TrackRecord.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tonemirror::engine {

// Finds the tracks whose tag score with a query can reach a threshold from the letter groups their
// texts share. The tag score is a weighted mean of text likenesses between one text of each track, so
// a pair reaching t has two texts whose likeness reaches t. The likeness counts the substrings of
// either text found in the other: when two texts share no substring of q units, each start finds at
// most min(q - 1, l) of them (l the shorter length), at most min(q - 1, l) (|x| + |y|) in all out of
// l (|x| + |y| + 1 - l), which is at most 2 min(q - 1, l) / (l + 1). So above that figure the texts
// share a group of three units (q = 3) or of two (q = 2), and only texts too short for either need
// no shared group at all. Groups are hashed into buckets; a shared bucket that is not a shared group
// only adds a candidate. Not synchronised, like ContentIndex.
class TagIndex {
public:
    TagIndex();

    void clear();
    // Adds the texts of the track at `position` (one more than the last added).
    void add(std::uint32_t position, const analysis::TrackRecord& record);

    // Calls visit(position) for every added track before `below` whose tag score with `record` may
    // reach `threshold` (and for others; a position may come more than once). False, before visiting
    // any, when the groups narrow nothing down: a threshold or a text of `record` too low or short for
    // them, or lists that together hold more than `budget` entries (visiting them would cost more
    // than going through every earlier track); then every earlier track is a candidate.
    template <typename Visit>
    bool query(const analysis::TrackRecord& record, float threshold, std::uint32_t below, std::size_t budget,
               Visit&& visit) const;

    // Shortest likeness-reaching length for which texts must share a group of `gram` units.
    static std::size_t needsSharedGram(float threshold, std::size_t gram);

private:
    // Texts up to this length are also kept by length and by their pairs.
    static constexpr std::size_t kShortLength = 15;
    static constexpr unsigned kTripleBits = 18;
    static constexpr unsigned kPairBits = 16;
    static constexpr unsigned kShortPairBits = 12;

    using Postings = std::vector<std::vector<std::uint32_t>>;

    static void grams(std::u16string_view text, std::size_t gram, unsigned bits,
                      std::vector<std::uint32_t>& out);
    static void post(Postings& postings, const std::vector<std::uint32_t>& buckets, std::uint32_t position);
    // The lists whose union holds every candidate of `record`; false when every track is one.
    bool listsFor(const analysis::TrackRecord& record, float threshold,
                  std::vector<const std::vector<std::uint32_t>*>& lists) const;
    void addGrams(const Postings& postings, std::u16string_view text, std::size_t gram, unsigned bits,
                  std::vector<const std::vector<std::uint32_t>*>& lists) const;

    Postings triples_; // every text of three units or more
    // Texts of 2..kShortLength units by their length: only the lengths that the threshold leaves
    // between the two kinds of group are looked up by their pairs.
    std::array<Postings, kShortLength + 1> shortPairs_;
    Postings pairs_; // every text of two units or more
    std::array<std::vector<std::uint32_t>, kShortLength + 1> byLength_;
};

template <typename Visit>
bool TagIndex::query(const analysis::TrackRecord& record, float threshold, std::uint32_t below,
                     std::size_t budget, Visit&& visit) const {
    thread_local std::vector<const std::vector<std::uint32_t>*> lists;
    if (!listsFor(record, threshold, lists)) {
        return false;
    }
    std::size_t entries = 0;
    for (const auto* list : lists) {
        entries += list->size();
    }
    if (entries > budget) {
        return false;
    }
    for (const auto* list : lists) {
        for (const std::uint32_t p : *list) {
            if (p >= below) {
                break; // positions are added in increasing order
            }
            visit(p);
        }
    }
    return true;
}

} // namespace tonemirror::engine
