#include "engine/TagIndex.h"

#include <algorithm>

namespace tonemirror::engine {

TagIndex::TagIndex() {
    clear();
}

void TagIndex::clear() {
    triples_.assign(std::size_t{1} << kTripleBits, {});
    for (auto& postings : shortPairs_) {
        postings.assign(std::size_t{1} << kShortPairBits, {});
    }
    pairs_.assign(std::size_t{1} << kPairBits, {});
    for (auto& list : byLength_) {
        list.clear();
    }
}

std::size_t TagIndex::needsSharedGram(float threshold, std::size_t gram) {
    // The largest likeness of texts without a shared group, 2 min(gram - 1, l) / (l + 1), falls from
    // l = gram - 1 on; below that it only rises with l.
    const double t = threshold;
    std::size_t l = 1;
    while (l <= kShortLength + 1) {
        const double most = 2.0 * static_cast<double>(std::min(gram - 1, l)) / static_cast<double>(l + 1);
        if (l >= gram - 1 && most < t) {
            return l;
        }
        ++l;
    }
    return kShortLength + 2;
}

void TagIndex::grams(std::u16string_view text, std::size_t gram, unsigned bits,
                     std::vector<std::uint32_t>& out) {
    out.clear();
    for (std::size_t i = 0; i + gram <= text.size(); ++i) {
        std::uint32_t h = 0;
        for (std::size_t k = 0; k < gram; ++k) {
            h = (h ^ text[i + k]) * 2654435761u;
        }
        out.push_back((h ^ (h >> 15)) * 2246822519u >> (32 - bits));
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

void TagIndex::post(Postings& postings, const std::vector<std::uint32_t>& buckets, std::uint32_t position) {
    for (const std::uint32_t b : buckets) {
        auto& list = postings[b];
        if (list.empty() || list.back() != position) { // one entry per track, whichever text
            list.push_back(position);
        }
    }
}

void TagIndex::add(std::uint32_t position, const analysis::TrackRecord& record) {
    const std::u16string_view texts[] = {record.nameText, record.titleText, record.artistText,
                                         record.albumText};
    std::vector<std::uint32_t> buckets;
    for (const std::u16string_view x : texts) {
        if (x.empty()) {
            continue;
        }
        if (x.size() <= kShortLength) {
            auto& list = byLength_[x.size()];
            if (list.empty() || list.back() != position) {
                list.push_back(position);
            }
        }
        grams(x, 3, kTripleBits, buckets);
        post(triples_, buckets, position);
        grams(x, 2, kPairBits, buckets);
        post(pairs_, buckets, position);
        if (x.size() <= kShortLength) {
            grams(x, 2, kShortPairBits, buckets);
            post(shortPairs_[x.size()], buckets, position);
        }
    }
}

void TagIndex::addGrams(const Postings& postings, std::u16string_view text, std::size_t gram, unsigned bits,
                        std::vector<const std::vector<std::uint32_t>*>& lists) const {
    thread_local std::vector<std::uint32_t> buckets;
    grams(text, gram, bits, buckets);
    for (const std::uint32_t b : buckets) {
        lists.push_back(&postings[b]);
    }
}

bool TagIndex::listsFor(const analysis::TrackRecord& record, float threshold,
                        std::vector<const std::vector<std::uint32_t>*>& lists) const {
    lists.clear();
    const std::size_t triples = needsSharedGram(threshold, 3);
    const std::size_t pairs = needsSharedGram(threshold, 2);
    if (triples > kShortLength + 1) {
        return false;
    }
    const std::u16string_view texts[] = {record.nameText, record.titleText, record.artistText,
                                         record.albumText};
    for (const std::u16string_view x : texts) {
        if (x.empty()) {
            continue;
        }
        if (x.size() < pairs) {
            return false; // too short for any shared group to be needed
        }
        if (x.size() >= triples) {
            addGrams(triples_, x, 3, kTripleBits, lists);
            for (std::size_t length = pairs; length < triples; ++length) {
                addGrams(shortPairs_[length], x, 2, kShortPairBits, lists);
            }
        } else {
            addGrams(pairs_, x, 2, kPairBits, lists);
        }
    }
    for (std::size_t length = 1; length < pairs; ++length) {
        lists.push_back(&byLength_[length]);
    }
    return true;
}

} // namespace tonemirror::engine
