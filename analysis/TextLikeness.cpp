#include "analysis/TextLikeness.h"

#include <algorithm>
#include <vector>

namespace tonemirror::analysis {

namespace {

// Number of (start, length) substrings counted over both texts: for every length 1..L (L the shorter
// length) each text has (its length - length + 1) starts. Summed in closed form.
std::uint64_t substringTotal(std::size_t lx, std::size_t ly) {
    const std::uint64_t l = std::min(lx, ly);
    return l * (static_cast<std::uint64_t>(lx) + ly + 1 - l);
}

float ratio(std::uint64_t found, std::uint64_t total) {
    return static_cast<float>(static_cast<double>(found) / static_cast<double>(total));
}

// A substring of one text that occurs in the other is a prefix of that text's suffix at the same start,
// and every shorter prefix occurs too. So for each start s in x the substrings found are exactly the
// lengths 1..M(s), M(s) being the longest common extension of x[s..] with any y[t..]; likewise for y.
// M(s) never exceeds the shorter length, so it needs no capping at L. The extensions come from the
// usual right-to-left recurrence ext(s, t) = x[s] == y[t] ? ext(s + 1, t + 1) + 1 : 0, one row per s;
// the row maximum is M(s) and the running column maximum is the same quantity for y.
//
// Cell must hold values up to shorter.size(). prev and cur have shorter.size() + 1 cells, colMax
// shorter.size(); their contents on entry do not matter.
template <typename Cell>
std::uint64_t foundSubstrings(std::u16string_view longer, std::u16string_view shorter, Cell* prev, Cell* cur,
                              Cell* colMax) {
    const std::size_t m = shorter.size();
    const char16_t* const ys = shorter.data();
    std::fill(prev, prev + m + 1, Cell{0});
    std::fill(colMax, colMax + m, Cell{0});
    cur[m] = 0;
    std::uint64_t found = 0;
    for (std::size_t s = longer.size(); s-- > 0;) {
        const char16_t c = longer[s];
        Cell rowMax = 0;
        for (std::size_t t = 0; t < m; ++t) {
            const Cell v = ys[t] == c ? static_cast<Cell>(prev[t + 1] + 1) : Cell{0};
            cur[t] = v;
            colMax[t] = std::max(colMax[t], v);
            rowMax = std::max(rowMax, v);
        }
        found += rowMax;
        std::swap(prev, cur);
    }
    for (std::size_t t = 0; t < m; ++t) {
        found += colMax[t];
    }
    return found;
}

unsigned charBucket(char16_t c) {
    if (c < TextSketch::kCharBuckets) {
        return c; // ASCII gets a bucket of its own
    }
    return (static_cast<std::uint32_t>(c) * 2654435761u) >> 25;
}

unsigned pairBucket(char16_t a, char16_t b) {
    const std::uint32_t h =
        (static_cast<std::uint32_t>(a) * 2654435761u) ^ (static_cast<std::uint32_t>(b) * 2246822519u);
    return (h * 2654435761u) >> 23;
}

template <std::size_t N>
bool testBit(const std::array<std::uint64_t, N>& bits, unsigned bucket) {
    return (bits[bucket >> 6] >> (bucket & 63)) & 1u;
}

template <std::size_t N>
void setBit(std::array<std::uint64_t, N>& bits, unsigned bucket) {
    bits[bucket >> 6] |= std::uint64_t{1} << (bucket & 63);
}

// Upper bound of the substrings of x found in y (the sum of M(s) above). M(s) >= 1 needs x[s] in y;
// M(s) >= k needs every adjacent pair x[j], x[j + 1] for s <= j < s + k - 1 in y. A clear bucket in
// y's sketch proves the character or pair absent, so M(s) <= 1 + (run of pairs from s whose buckets
// are set in y), and M(s) <= |y|.
std::uint64_t foundBound(std::u16string_view x, std::u16string_view y, const TextSketch& ySketch) {
    const std::size_t lx = x.size();
    const std::uint64_t ly = y.size();
    std::uint64_t found = 0;
    std::uint64_t run = 0; // pairs passing from s onwards; none at the last position
    bool nextCharIn = false;
    for (std::size_t s = lx; s-- > 0;) {
        const bool charIn = testBit(ySketch.chars, charBucket(x[s]));
        if (s + 1 < lx && nextCharIn && testBit(ySketch.pairs, pairBucket(x[s], x[s + 1]))) {
            ++run;
        } else {
            run = 0;
        }
        if (charIn) {
            found += std::min(run + 1, ly);
        }
        nextCharIn = charIn;
    }
    return found;
}

} // namespace

float textLikeness(std::u16string_view x, std::u16string_view y) noexcept {
    if (x.empty() || y.empty()) {
        return 0.0f;
    }
    if (x == y) {
        return 1.0f; // every substring found: the exact count would give found == total
    }
    const std::uint64_t total = substringTotal(x.size(), y.size());
    std::u16string_view longer = x;
    std::u16string_view shorter = y;
    if (shorter.size() > longer.size()) {
        std::swap(longer, shorter);
    }
    const std::size_t m = shorter.size();
    std::uint64_t found = 0;
    if (m <= kTextLikenessStackChars) {
        std::uint16_t prev[kTextLikenessStackChars + 1];
        std::uint16_t cur[kTextLikenessStackChars + 1];
        std::uint16_t colMax[kTextLikenessStackChars];
        found = foundSubstrings<std::uint16_t>(longer, shorter, prev, cur, colMax);
    } else {
        std::vector<std::uint32_t> work(3 * m + 2);
        found = foundSubstrings<std::uint32_t>(longer, shorter, work.data(), work.data() + m + 1,
                                               work.data() + 2 * m + 2);
    }
    return ratio(found, total);
}

TextSketch makeTextSketch(std::u16string_view text) noexcept {
    TextSketch sketch;
    for (std::size_t i = 0; i < text.size(); ++i) {
        setBit(sketch.chars, charBucket(text[i]));
        if (i + 1 < text.size()) {
            setBit(sketch.pairs, pairBucket(text[i], text[i + 1]));
        }
    }
    return sketch;
}

float textLikenessUpperBound(std::u16string_view x, const TextSketch& xSketch, std::u16string_view y,
                             const TextSketch& ySketch) noexcept {
    if (x.empty() || y.empty()) {
        return 0.0f;
    }
    const std::uint64_t found = foundBound(x, y, ySketch) + foundBound(y, x, xSketch);
    // Each side's bound is at most the number of its own substrings, so this never exceeds 1.
    return ratio(found, substringTotal(x.size(), y.size()));
}

} // namespace tonemirror::analysis
