#include "analysis/AcousticMatch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace tonemirror::analysis {

namespace {

constexpr std::size_t kWordBits = 32;

// The screen of compareAcousticAtLeast looks at every fourth frame. A block counts as possibly
// matching when its sampled words differ in at most kBlockErrorLimit plus kScreenSlack of their bits
// (a block of a copy fails that only by an unusual crowding of its differing bits into the sample),
// and the pair is scored fully when the possibly matching blocks of some alignment cover the
// threshold's share of the shorter print less kScreenMargin.
constexpr std::size_t kScreenStride = 4;
constexpr float kScreenSlack = 0.1f;
constexpr float kScreenMargin = 0.05f;
// The differing bits a whole sampled block may have (the limit above, rounded down).
constexpr int kScreenBlockBits = static_cast<int>((kBlockErrorLimit + kScreenSlack) *
                                                  static_cast<float>(kAcousticBlock / kScreenStride * 32));

// Built twice on x86-64 so that processors with a population-count instruction use it: it is most of
// the cost of a match. Not under ThreadSanitizer, whose runtime is not ready when the loader runs
// the clones' resolver.
#if defined(__SANITIZE_THREAD__)
#define TM_POPCOUNT_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TM_POPCOUNT_CLONES
#endif
#endif
#if !defined(TM_POPCOUNT_CLONES)
#if defined(__x86_64__) && defined(__GNUC__)
#define TM_POPCOUNT_CLONES [[gnu::target_clones("popcnt", "default")]]
#else
#define TM_POPCOUNT_CLONES
#endif
#endif

// Differing bits of n word pairs.
TM_POPCOUNT_CLONES std::uint32_t differingBits(const std::uint32_t* a, const std::uint32_t* b,
                                               std::size_t n) {
    std::uint32_t bits = 0;
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const std::uint64_t x = (static_cast<std::uint64_t>(a[i] ^ b[i]) << 32) | (a[i + 1] ^ b[i + 1]);
        bits += static_cast<std::uint32_t>(std::popcount(x));
    }
    if (i < n) {
        bits += static_cast<std::uint32_t>(std::popcount(a[i] ^ b[i]));
    }
    return bits;
}

// A print split into kScreenStride phases (words 0, 4, 8, ..., then 1, 5, 9, ...), so that every
// fourth word from any start lies contiguous and is counted like a whole overlap.
class StridedPrint {
public:
    StridedPrint(const std::uint32_t* words, std::size_t n)
        : phaseLength_((n + kScreenStride - 1) / kScreenStride) {
        for (std::size_t i = 0; i < n; ++i) {
            words_[(i % kScreenStride) * phaseLength_ + i / kScreenStride] = words[i];
        }
    }
    // Word i, i + 4, i + 8, ... from here on.
    const std::uint32_t* from(std::size_t i) const {
        return words_.data() + (i % kScreenStride) * phaseLength_ + i / kScreenStride;
    }

private:
    std::size_t phaseLength_;
    std::array<std::uint32_t, kMaxAcousticWords + kScreenStride> words_; // only the phases are read
};

// Calls f(start in the first print, start in the second, overlap length) for every alignment tried,
// until f returns false.
template <typename F>
void forEachAlignment(std::size_t na, std::size_t nb, F&& f) {
    // Word i of the first print meets word i - shift of the second.
    for (std::ptrdiff_t shift = -kMaxAcousticShift; shift <= kMaxAcousticShift; ++shift) {
        const std::ptrdiff_t begin = std::max<std::ptrdiff_t>(0, shift);
        const std::ptrdiff_t end =
            std::min(static_cast<std::ptrdiff_t>(na), static_cast<std::ptrdiff_t>(nb) + shift);
        if (end - begin >= static_cast<std::ptrdiff_t>(kMinAcousticWords) &&
            !f(static_cast<std::size_t>(begin), static_cast<std::size_t>(begin - shift),
               static_cast<std::size_t>(end - begin))) {
            return;
        }
    }
}

// Whether `bits` differing bits of `words` word pairs are few enough for a matching block.
bool blockMatches(std::uint32_t bits, std::size_t words, float limit) {
    return static_cast<float>(bits) <= limit * static_cast<float>(words * kWordBits);
}

// Frames of the overlap a[0..count), b[0..count) that lie in matching blocks, or any number up to
// `beat` once the blocks left cannot take it past `beat`: only a larger count changes the best.
std::size_t matchedFrames(const std::uint32_t* a, const std::uint32_t* b, std::size_t count,
                          std::size_t beat) {
    std::size_t matched = 0;
    for (std::size_t at = 0; at < count && matched + (count - at) > beat; at += kAcousticBlock) {
        const std::size_t len = std::min(kAcousticBlock, count - at);
        if (blockMatches(differingBits(a + at, b + at, len), len, kBlockErrorLimit)) {
            matched += len;
        }
    }
    return matched;
}

// The screen for one alignment: whether the blocks whose every fourth word differs little enough
// cover `needed` frames, from the phase-split copies (block starts are multiples of the stride from
// the overlap's). Stops as soon as the blocks left could not make up the difference.
// Cloned like differingBits, whose work it does inline for its short blocks: a call per block costs
// as much as the block.
TM_POPCOUNT_CLONES bool mayMatch(const StridedPrint& a, const StridedPrint& b, std::size_t ia, std::size_t ib,
                                 std::size_t count, float needed) {
    constexpr std::size_t kSampled = kAcousticBlock / kScreenStride;
    const std::uint32_t* sa = a.from(ia);
    const std::uint32_t* sb = b.from(ib);
    const std::size_t looked = (count + kScreenStride - 1) / kScreenStride;
    std::size_t missed = 0;
    for (std::size_t at = 0; at < looked; at += kSampled) {
        const std::size_t len = std::min(kSampled, looked - at);
        bool matches = false;
        if (len == kSampled) {
            // Four words as two 64-bit counts against a whole number of bits.
            const auto pair = [&](std::size_t k) {
                return (static_cast<std::uint64_t>(sa[k] ^ sb[k]) << 32) | (sa[k + 1] ^ sb[k + 1]);
            };
            matches = std::popcount(pair(at)) + std::popcount(pair(at + 2)) <= kScreenBlockBits;
        } else {
            std::uint32_t bits = 0;
            for (std::size_t k = at; k < at + len; ++k) {
                bits += static_cast<std::uint32_t>(std::popcount(sa[k] ^ sb[k]));
            }
            matches = blockMatches(bits, len, kBlockErrorLimit + kScreenSlack);
        }
        if (!matches) {
            missed += std::min(kAcousticBlock, count - at * kScreenStride);
            if (static_cast<float>(count - missed) < needed) {
                return false;
            }
        }
    }
    return static_cast<float>(count - missed) >= needed;
}

std::uint32_t swapHalves(std::uint32_t w) {
    return (w << 16) | (w >> 16);
}

// Pairs of a word of `a` and one of `b` (both ascending) with the same high half that differ in at
// most one bit, counted up to `enough`; with `lowDiffers`, only those whose low halves differ (the
// others were counted in the other order).
std::size_t pairsAgreeingHigh(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b,
                              bool lowDiffers, std::size_t enough) {
    std::size_t pairs = 0;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const std::uint32_t ha = a[i] >> 16;
        const std::uint32_t hb = b[j] >> 16;
        if (ha != hb) {
            (ha < hb ? i : j) += 1;
            continue;
        }
        std::size_t ie = i;
        std::size_t je = j;
        while (ie < a.size() && a[ie] >> 16 == ha) {
            ++ie;
        }
        while (je < b.size() && b[je] >> 16 == hb) {
            ++je;
        }
        for (std::size_t x = i; x < ie; ++x) {
            for (std::size_t y = j; y < je; ++y) {
                const std::uint32_t d = a[x] ^ b[y];
                if (std::popcount(d) <= 1 && !(lowDiffers && (d & 0xFFFFu) == 0) && ++pairs >= enough) {
                    return pairs;
                }
            }
        }
        i = ie;
        j = je;
    }
    return pairs;
}

bool comparable(std::size_t na, std::size_t nb) {
    return std::min(na, nb) >= kMinAcousticWords;
}

} // namespace

float compareAcoustic(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second) {
    const std::size_t na = std::min(first.size(), kMaxAcousticWords);
    const std::size_t nb = std::min(second.size(), kMaxAcousticWords);
    if (!comparable(na, nb)) {
        return 0.0f;
    }
    // The longest overlaps first: a copy's best alignment is found early, and no overlap shorter
    // than the best so far can match more frames.
    struct Alignment {
        std::size_t ia, ib, count;
    };
    std::array<Alignment, 2 * static_cast<std::size_t>(kMaxAcousticShift) + 1> alignments;
    std::size_t n = 0;
    forEachAlignment(na, nb, [&](std::size_t ia, std::size_t ib, std::size_t count) {
        alignments[n++] = {ia, ib, count};
        return true;
    });
    std::sort(alignments.begin(), alignments.begin() + static_cast<std::ptrdiff_t>(n),
              [](const Alignment& x, const Alignment& y) { return x.count > y.count; });
    std::size_t best = 0;
    for (std::size_t k = 0; k < n && alignments[k].count > best; ++k) {
        const Alignment& al = alignments[k];
        best = std::max(best, matchedFrames(first.data() + al.ia, second.data() + al.ib, al.count, best));
    }
    return static_cast<float>(best) / static_cast<float>(std::min(na, nb));
}

float compareAcousticAtLeast(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second,
                             float threshold) {
    if (!(threshold > 0.0f)) {
        return compareAcoustic(first, second); // every score reaches it
    }
    const std::size_t na = std::min(first.size(), kMaxAcousticWords);
    const std::size_t nb = std::min(second.size(), kMaxAcousticWords);
    if (!comparable(na, nb)) {
        return 0.0f;
    }
    const float needed = (threshold - kScreenMargin) * static_cast<float>(std::min(na, nb));
    bool promising = false;
    const StridedPrint a(first.data(), na);
    const StridedPrint b(second.data(), nb);
    forEachAlignment(na, nb, [&](std::size_t ia, std::size_t ib, std::size_t count) {
        // Too little overlap cannot reach the threshold, whatever its bits.
        promising = static_cast<float>(count) >= needed && mayMatch(a, b, ia, ib, count, needed);
        return !promising;
    });
    return promising ? compareAcoustic(first, second) : 0.0f;
}

void distinctPrintWords(std::span<const std::uint32_t> print, std::vector<std::uint32_t>& words,
                        std::vector<std::uint32_t>& swapped) {
    const std::size_t n = std::min(print.size(), kMaxAcousticWords);
    words.assign(print.begin(), print.begin() + static_cast<std::ptrdiff_t>(n));
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    swapped.resize(words.size());
    std::transform(words.begin(), words.end(), swapped.begin(), swapHalves);
    std::sort(swapped.begin(), swapped.end());
}

std::size_t nearWordPairs(const PrintWords& first, const PrintWords& second, std::size_t enough) {
    // Pairs that agree in their high halves, then those that agree only in their low halves.
    std::size_t pairs = pairsAgreeingHigh(first.words, second.words, false, enough);
    if (pairs < enough) {
        pairs += pairsAgreeingHigh(first.swapped, second.swapped, true, enough - pairs);
    }
    return pairs;
}

bool shareWords(const PrintWords& first, const PrintWords& second) {
    return nearWordPairs(first, second, kNearWordPairs) >= kNearWordPairs;
}

bool printsShareWords(std::span<const std::uint32_t> first, std::span<const std::uint32_t> second) {
    std::vector<std::uint32_t> a[2];
    std::vector<std::uint32_t> b[2];
    distinctPrintWords(first, a[0], a[1]);
    distinctPrintWords(second, b[0], b[1]);
    return shareWords({a[0], a[1]}, {b[0], b[1]});
}

std::size_t encodedAcousticSize(std::size_t words) {
    return words == 0 ? 0 : kAcousticHeadSize + 4 * std::min(words, kMaxAcousticWords);
}

void encodeAcousticPrint(std::span<const std::uint32_t> print, std::uint8_t algorithm,
                         std::vector<std::byte>& out) {
    out.clear();
    if (print.empty()) {
        return;
    }
    const std::size_t n = std::min(print.size(), kMaxAcousticWords);
    out.resize(encodedAcousticSize(n));
    out[0] = std::byte{kAcousticFormat};
    out[1] = std::byte{algorithm};
    out[2] = static_cast<std::byte>(n & 0xFF);
    out[3] = static_cast<std::byte>(n >> 8);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < 4; ++k) {
            out[kAcousticHeadSize + 4 * i + k] = static_cast<std::byte>((print[i] >> (8 * k)) & 0xFF);
        }
    }
}

HResult decodeAcousticPrint(std::span<const std::byte> data, std::uint8_t algorithm, AcousticPrint& out) {
    out.clear();
    if (data.empty()) {
        return S_OK;
    }
    if (data.size() < kAcousticHeadSize || data[0] != std::byte{kAcousticFormat}) {
        return E_INVALIDARG;
    }
    const std::size_t n =
        std::to_integer<std::size_t>(data[2]) | (std::to_integer<std::size_t>(data[3]) << 8);
    // The count must describe exactly the bytes that follow, so nothing is sized from it unchecked.
    if (n == 0 || n > kMaxAcousticWords || data.size() != kAcousticHeadSize + 4 * n) {
        return E_INVALIDARG;
    }
    if (data[1] != std::byte{algorithm}) {
        return kOtherAlgorithm;
    }
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t w = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            w |= std::to_integer<std::uint32_t>(data[kAcousticHeadSize + 4 * i + k]) << (8 * k);
        }
        out[i] = w;
    }
    return S_OK;
}

} // namespace tonemirror::analysis
