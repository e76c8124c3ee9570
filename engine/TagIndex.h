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
    // reach `threshold` (and for others; a position may come more than once). False when the
    // threshold or a text of `record` is too low or short for the groups to narrow anything down:
    // then every earlier track is a candidate.
    template <typename Visit>
    bool query(const analysis::TrackRecord& record, float threshold, std::uint32_t below,
               Visit&& visit) const;

    // Shortest likeness-reaching length for which texts must share a group of `gram` units.
    static std::size_t needsSharedGram(float threshold, std::size_t gram);

private:
    // Texts up to this length are also kept by length and by their pairs.
    static constexpr std::size_t kShortLength = 15;
    static constexpr unsigned kTripleBits = 18;
    static constexpr unsigned kPairBits = 16;

    using Postings = std::vector<std::vector<std::uint32_t>>;

    static void grams(std::u16string_view text, std::size_t gram, unsigned bits,
                      std::vector<std::uint32_t>& out);
    static void post(Postings& postings, const std::vector<std::uint32_t>& buckets, std::uint32_t position);
    template <typename Visit>
    static void visitGrams(const Postings& postings, std::u16string_view text, std::size_t gram,
                           unsigned bits, std::uint32_t below, Visit& visit);

    Postings triples_;    // every text of three units or more
    Postings shortPairs_; // texts of 2..kShortLength units
    Postings pairs_;      // every text of two units or more
    std::array<std::vector<std::uint32_t>, kShortLength + 1> byLength_;
};

template <typename Visit>
void TagIndex::visitGrams(const Postings& postings, std::u16string_view text, std::size_t gram, unsigned bits,
                          std::uint32_t below, Visit& visit) {
    std::vector<std::uint32_t> buckets;
    grams(text, gram, bits, buckets);
    for (const std::uint32_t b : buckets) {
        for (const std::uint32_t p : postings[b]) {
            if (p >= below) {
                break; // positions are added in increasing order
            }
            visit(p);
        }
    }
}

template <typename Visit>
bool TagIndex::query(const analysis::TrackRecord& record, float threshold, std::uint32_t below,
                     Visit&& visit) const {
    const std::size_t triples = needsSharedGram(threshold, 3);
    const std::size_t pairs = needsSharedGram(threshold, 2);
    if (triples > kShortLength + 1) {
        return false;
    }
    const std::u16string_view texts[] = {record.nameText, record.titleText, record.artistText,
                                         record.albumText};
    for (const std::u16string_view x : texts) {
        if (!x.empty() && x.size() < pairs) {
            return false;
        }
    }
    for (const std::u16string_view x : texts) {
        if (x.empty()) {
            continue;
        }
        if (x.size() >= triples) {
            visitGrams(triples_, x, 3, kTripleBits, below, visit);
            visitGrams(shortPairs_, x, 2, kPairBits, below, visit);
        } else {
            visitGrams(pairs_, x, 2, kPairBits, below, visit);
        }
    }
    for (std::size_t length = 1; length < pairs; ++length) {
        for (const std::uint32_t p : byLength_[length]) {
            if (p >= below) {
                break;
            }
            visit(p);
        }
    }
    return true;
}

} // namespace tonemirror::engine
