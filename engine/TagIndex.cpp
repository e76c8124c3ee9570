#include "engine/TagIndex.h"

#include <algorithm>

namespace tonemirror::engine {

TagIndex::TagIndex() {
    clear();
}

void TagIndex::clear() {
    triples_.assign(std::size_t{1} << kTripleBits, {});
    shortPairs_.assign(std::size_t{1} << kPairBits, {});
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
            post(shortPairs_, buckets, position);
        }
    }
}

} // namespace tonemirror::engine
