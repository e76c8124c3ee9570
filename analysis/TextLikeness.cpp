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
// One row of the recurrence, written without branches so that it vectorises; returns the row maximum.
template <typename Cell>
Cell extendRow(char16_t c, const char16_t* __restrict ys, std::size_t m, const Cell* __restrict prev,
               Cell* __restrict cur, Cell* __restrict colMax) {
    Cell rowMax = 0;
    for (std::size_t t = 0; t < m; ++t) {
        const Cell match = static_cast<Cell>(-static_cast<Cell>(ys[t] == c)); // all ones or zero
        const Cell v = static_cast<Cell>((prev[t + 1] + 1) & match);
        cur[t] = v;
        colMax[t] = colMax[t] < v ? v : colMax[t];
        rowMax = rowMax < v ? v : rowMax;
    }
    return rowMax;
}

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
        found += extendRow<Cell>(longer[s], ys, m, prev, cur, colMax);
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
void setBit(std::array<std::uint64_t, N>& bits, unsigned bucket) {
    bits[bucket >> 6] |= std::uint64_t{1} << (bucket & 63);
}

// Bit count without a library call (the baseline x86-64 target has no popcount instruction).
unsigned bitCount(std::uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555u);
    v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<unsigned>((v * 0x0101010101010101u) >> 56);
}

template <std::size_t N>
unsigned bitCount(const std::array<std::uint64_t, N>& bits) {
    unsigned n = 0;
    for (const std::uint64_t w : bits) {
        n += bitCount(w);
    }
    return n;
}

template <std::size_t N>
unsigned sharedBits(const std::array<std::uint64_t, N>& a, const std::array<std::uint64_t, N>& b) {
    unsigned n = 0;
    for (std::size_t i = 0; i < N; ++i) {
        n += bitCount(a[i] & b[i]);
    }
    return n;
}

// sum of min(k, cap) for k = 1..n
std::uint64_t cappedTriangle(std::uint64_t n, std::uint64_t cap) {
    if (n <= cap) {
        return n * (n + 1) / 2;
    }
    return cap * (cap + 1) / 2 + (n - cap) * cap;
}

// Upper bound of the substrings of x found in y, i.e. of the sum of M(s) above.
//
// M(s) >= 1 needs x[s] to occur in y, and M(s) >= 1 + k needs the k adjacent pairs from s on to occur
// in y. So with c the positions of x whose character occurs in y and, for the pairs of x that occur in
// y, maximal blocks of consecutive positions of lengths r1, r2, ... (summing to p):
//   sum M(s) <= c + sum over blocks of (1 + 2 + ... + r), each term capped at |y| - 1,
// and one block of length p gives the most, because the capped triangle numbers are superadditive.
// A position counts towards c or p only if its bucket is set in y; x's positions in the shared
// buckets number at most the shared buckets plus x's repeats (positions whose bucket an earlier
// position already set). The shared bucket counts are the same from either side, so they come in.
std::uint64_t foundBound(const TextSketch& x, const TextSketch& y, unsigned sharedChars,
                         unsigned sharedPairs) {
    const std::uint64_t lx = x.length;
    const std::uint64_t ly = y.length;
    const std::uint64_t chars = std::min<std::uint64_t>(lx, sharedChars + x.repeatedChars);
    const std::uint64_t pairs = std::min<std::uint64_t>(lx - 1, sharedPairs + x.repeatedPairs);
    const std::uint64_t l = std::min(lx, ly);
    const std::uint64_t ownSubstrings = l * (lx + 1) - l * (l + 1) / 2;
    return std::min(ownSubstrings, chars + cappedTriangle(pairs, ly - 1));
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
    sketch.length = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        setBit(sketch.chars, charBucket(text[i]));
        if (i + 1 < text.size()) {
            setBit(sketch.pairs, pairBucket(text[i], text[i + 1]));
        }
    }
    sketch.repeatedChars = sketch.length - bitCount(sketch.chars);
    sketch.repeatedPairs = sketch.length == 0 ? 0 : sketch.length - 1 - bitCount(sketch.pairs);
    return sketch;
}

float textLikenessUpperBound(const TextSketch& x, const TextSketch& y) noexcept {
    if (x.length == 0 || y.length == 0) {
        return 0.0f;
    }
    const unsigned sharedChars = sharedBits(x.chars, y.chars);
    const unsigned sharedPairs = sharedBits(x.pairs, y.pairs);
    // Each side's bound is at most the number of its own substrings, so this never exceeds 1.
    return ratio(foundBound(x, y, sharedChars, sharedPairs) + foundBound(y, x, sharedChars, sharedPairs),
                 substringTotal(x.length, y.length));
}

namespace {

// Upper bound of the substrings of x (n units) found in the other text (l the shorter length) when
// `hits` of x's starts have their run of q units in the other text.
//
// Why: M(s) >= q needs the run at s in the other text, so every start that is not a hit has
// M(s) <= min(q - 1, l). M(s) = m >= q needs the runs at s, s + 1, ..., s + m - q all there, so a hit
// followed by r - 1 more hits in a row has M(s) <= min(l, q - 1 + r). A block of r hits in a row gives
// at most min(l, q) + ... + min(l, q - 1 + r); these sums are superadditive (their terms rise), so all
// hits in one block give the most. And no start finds more than its own substrings up to length l.
std::uint64_t foundWithHits(std::uint64_t n, std::uint64_t hits, std::uint64_t l, std::uint64_t q) {
    const std::uint64_t ownSubstrings = l * (n + 1) - l * (l + 1) / 2;
    // The block's terms rise by one while they are under l, then stay at l.
    const std::uint64_t rising = l > q - 1 ? std::min(hits, l - (q - 1)) : 0;
    const std::uint64_t block = rising * (q - 1) + rising * (rising + 1) / 2 + (hits - rising) * l;
    return std::min(ownSubstrings, (n - hits) * std::min(q - 1, l) + block);
}

// Starts of x whose run is in the other text, when the two share `shared` distinct runs: each shared
// run takes one start, and further starts only where x repeats a run (counted in x.repeats), which
// needs a shared run to repeat. With hashed runs the same holds for hashes, and a run found in the
// other text has its hash there too.
std::uint64_t hitsWithShared(RunShape x, std::size_t shared) {
    if (shared == 0) {
        return 0;
    }
    const std::uint64_t starts = x.length >= x.run ? x.length - x.run + 1 : 0;
    return std::min<std::uint64_t>(starts, static_cast<std::uint64_t>(shared) + x.repeats);
}

} // namespace

float likenessWithSharedRuns(RunShape x, RunShape y, std::size_t shared) noexcept {
    if (x.length == 0 || y.length == 0 || x.run == 0) {
        return 0.0f;
    }
    const std::uint64_t l = std::min(x.length, y.length);
    const std::uint64_t found = foundWithHits(x.length, hitsWithShared(x, shared), l, x.run) +
                                foundWithHits(y.length, hitsWithShared(y, shared), l, x.run);
    // The same float rounding as the likeness itself, of a count never below the true one.
    return ratio(std::min(found, substringTotal(x.length, y.length)), substringTotal(x.length, y.length));
}

} // namespace tonemirror::analysis
