#include "analysis/ContentProjection.h"

#include "analysis/HalfFloat.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// The eight-lane kernel is built with GCC, whose target attributes carry over to the functions it
// inlines; other compilers (the fuzzing build) take the four-lane one.
#if defined(__x86_64__) && !defined(__clang__)
#define TONEMIRROR_PROJECTION_AVX2 1
#include "analysis/CpuFeatures.h"
#else
#define TONEMIRROR_PROJECTION_AVX2 0
#endif

namespace tonemirror::analysis {

namespace {

// Covers the float rounding of the projections, of the key's own dot products and of the sums below,
// as the sketch bound's slack does; far under any threshold step.
constexpr float kSlack = 2e-4f;
// Covers the rounding of the first stage's values to half precision. For unit vectors u and v and
// their roundings u' and v' (each value within 2^-11 of itself, or 2^-25 below 2^-14):
// |u.v - u'.v'| <= |u - u'| |v| + |u'| |v - v'| <= about 2 * 2^-11, plus at most 64 * 2^-25 * 2 for the
// tiny values. The rests are rounded up, so their product stays a bound.
constexpr float kHalfSlack = 2.0f * 0x1p-11f * 1.001f + 1e-5f;

constexpr std::size_t kLanes = ProjectionBlock::kLanes;

float flag(std::uint32_t mask, std::uint32_t bit) {
    return (mask & bit) != 0 ? 1.0f : 0.0f;
}

// The kernel is written once over GCC's vector extension, for vectors V of W lanes (a block is
// kLanes / W of them), and built twice: for the baseline target (SSE, four lanes) and, where the
// processor has them, for AVX2 with FMA and F16C (eight lanes), chosen once at run time. Each entry
// point flattens the helpers into itself (the AVX2 half loader cannot be inlined into a generic
// helper, so none is marked always-inline), so eight-lane vectors never cross a call and the warning that
// their calling convention depends on AVX does not apply. projectionBounds runs the four-lane build, so the
// tests check both.
#pragma GCC diagnostic ignored "-Wpsabi"

template <typename V>
inline V load(const float* x) {
    V v;
    std::memcpy(&v, x, sizeof v);
    return v;
}

using Lanes4 = float __attribute__((vector_size(16)));
using Words4 = std::int32_t __attribute__((vector_size(16)));
using Halves4 = std::uint16_t __attribute__((vector_size(8)));

// Four halves as floats, worked out as fromHalf does.
inline Lanes4 loadHalves(const std::uint16_t* x, Lanes4) {
    Halves4 h;
    std::memcpy(&h, x, sizeof h);
    const Words4 w = __builtin_convertvector(h, Words4);
    Lanes4 magnitude;
    const Words4 shifted = (w & 0x7fff) << 13;
    std::memcpy(&magnitude, &shifted, sizeof magnitude);
    magnitude *= 0x1p112f;
    Words4 bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    bits |= (w & 0x8000) << 16;
    Lanes4 v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

#if TONEMIRROR_PROJECTION_AVX2
using Lanes8 = float __attribute__((vector_size(32)));
using Halves8 = short __attribute__((vector_size(16)));

// Eight halves as floats in one instruction (F16C).
[[gnu::target("avx2,f16c")]] inline Lanes8 loadHalves(const std::uint16_t* x, Lanes8) {
    Halves8 h;
    std::memcpy(&h, x, sizeof h);
    return __builtin_ia32_vcvtph2ps256(h);
}
#endif

template <typename V>
inline V splat(float x) {
    return V{} + x;
}

template <typename V>
inline V minimum(V a, V b) {
    return a < b ? a : b;
}

template <typename V>
inline V maximum(V a, V b) {
    return a < b ? b : a;
}

// The query's values, each in every lane, made once per query.
template <typename V>
struct Broadcast {
    V spectrum[kProjectionAxes];
    V level[kProjectionLevelTerms];
    V sections[kSectionCount];
    V spectrumRestFirst, spectrumRest, levelRest;
    V spectrumConstant, levelConstant, sectionsConstant;
};

template <typename V>
inline Broadcast<V> broadcast(const ContentProjection& q) {
    Broadcast<V> b;
    for (std::size_t d = 0; d < kProjectionAxes; ++d) {
        b.spectrum[d] = splat<V>(q.spectrum[d]);
    }
    for (std::size_t d = 0; d < kProjectionLevelTerms; ++d) {
        b.level[d] = splat<V>(q.level[d]);
    }
    for (std::size_t d = 0; d < kSectionCount; ++d) {
        b.sections[d] = splat<V>(q.sections[d]);
    }
    b.spectrumRestFirst = splat<V>(q.spectrumRestFirst);
    b.spectrumRest = splat<V>(q.spectrumRest);
    b.levelRest = splat<V>(q.levelRest);
    b.spectrumConstant = splat<V>(flag(q.constantMask, kSpectrumConstant));
    b.levelConstant = splat<V>(flag(q.constantMask, kLevelConstant));
    b.sectionsConstant = splat<V>(flag(q.constantMask, kSectionsConstant));
    return b;
}

// q.v over N values, the block's from `at` on.
template <typename V, std::size_t N>
inline V dot(const V* q, const float (&v)[N][kLanes], std::size_t at) {
    V sum{};
    for (std::size_t d = 0; d < N; ++d) {
        sum += q[d] * load<V>(v[d] + at);
    }
    return sum;
}

template <typename V, std::size_t N>
inline V dot(const V* q, const std::uint16_t (&v)[N][kLanes], std::size_t at) {
    V sum{};
    for (std::size_t d = 0; d < N; ++d) {
        sum += q[d] * loadHalves(v[d] + at, V{});
    }
    return sum;
}

// One correlation bound per lane from a dot product and the product of the rests: |dot| + rests with
// the slack, at most 1, and 1 where either array is constant.
template <typename V>
inline V coefficient(V sum, V rests, V qConstant, V vConstant) {
    const V c = minimum(splat<V>(1.0f), maximum(sum, -sum) + rests + (kSlack + kHalfSlack));
    return maximum(c, maximum(qConstant, vConstant));
}

// Any lane set.
template <typename M>
inline bool any(M m) {
    bool found = false;
    for (std::size_t l = 0; l < sizeof(M) / sizeof(float); ++l) {
        found = found || m[l] != 0;
    }
    return found;
}

// The squares of the bounds (0.6 cs^2 + 0.2 cl^2 + 0.2 cc^2, before the final slack) in the W lanes of
// the block from `at` on, against `threshold`: -1 in the lanes that reach it. The first stage for
// all of them; where one reaches it, the second stage too, while the block's values are at hand.
// `squares` receives the smaller of the two stages' squares.
template <typename V>
inline auto reaching(const Broadcast<V>& q, const ProjectionBlock& block, const ProjectionTail& tail,
                     std::size_t at, V threshold, V& squares) {
    const V spectrumConstant = loadHalves(block.spectrumConstant + at, V{});
    const V head = dot(q.spectrum, block.spectrum, at);
    const V first = coefficient(head, q.spectrumRestFirst * loadHalves(block.spectrumRest + at, V{}),
                                q.spectrumConstant, spectrumConstant);
    const V cl =
        coefficient(dot(q.level, block.level, at), q.levelRest * loadHalves(block.levelRest + at, V{}),
                    q.levelConstant, loadHalves(block.levelConstant + at, V{}));
    const V cc = coefficient(dot(q.sections, block.sections, at), V{}, q.sectionsConstant,
                             loadHalves(block.sectionsConstant + at, V{}));
    const V others = 0.2f * cl * cl + 0.2f * cc * cc;
    squares = 0.6f * first * first + others;
    auto passed = squares >= threshold;
    if (any(passed)) {
        const V whole = head + dot(q.spectrum + kFirstStageAxes, tail.spectrum, at);
        const V cs = minimum(first, coefficient(whole, q.spectrumRest * load<V>(tail.spectrumRest + at),
                                                q.spectrumConstant, spectrumConstant));
        squares = 0.6f * cs * cs + others;
        passed = squares >= threshold;
    }
    return passed;
}

template <typename V>
inline void passMasks(const ContentProjection& query, std::span<const ProjectionBlock> blocks,
                      std::span<const ProjectionTail> tails, float needed, std::uint8_t* masks) {
    constexpr std::size_t kWidth = sizeof(V) / sizeof(float);
    const Broadcast<V> q = broadcast<V>(query);
    const V threshold = splat<V>(needed);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        unsigned m = 0;
        for (std::size_t at = 0; at < kLanes; at += kWidth) {
            V squares;
            const auto passed = reaching(q, blocks[b], tails[b], at, threshold, squares);
            for (std::size_t l = 0; l < kWidth; ++l) {
                m |= static_cast<unsigned>(passed[l]) & (1u << (at + l));
            }
        }
        masks[b] = static_cast<std::uint8_t>(m);
    }
}

[[gnu::flatten]] void passMasksBaseline(const ContentProjection& query,
                                        std::span<const ProjectionBlock> blocks,
                                        std::span<const ProjectionTail> tails, float needed,
                                        std::uint8_t* masks) {
    passMasks<Lanes4>(query, blocks, tails, needed, masks);
}

#if TONEMIRROR_PROJECTION_AVX2
[[gnu::target("avx2,fma,f16c"), gnu::flatten]] void passMasksAvx2(const ContentProjection& query,
                                                                  std::span<const ProjectionBlock> blocks,
                                                                  std::span<const ProjectionTail> tails,
                                                                  float needed, std::uint8_t* masks) {
    passMasks<Lanes8>(query, blocks, tails, needed, masks);
}

#endif

template <typename V>
inline float total(V v) {
    float sum = 0.0f;
    for (std::size_t l = 0; l < sizeof(V) / sizeof(float); ++l) {
        sum += v[l];
    }
    return sum;
}

// q.v over the third stage's values [from, to), whole vectors of W.
template <typename V>
inline float fineDot(const FineQuery& q, const FineProjection& v, std::size_t from, std::size_t to) {
    V sum{};
    for (std::size_t d = from; d < to; d += sizeof(V) / sizeof(float)) {
        sum += load<V>(q.values + d) * loadHalves(v.values + d, V{});
    }
    return total(sum);
}

// As `coefficient`, for one pair: both sides' values are halves.
inline float fineCoefficient(float dot, float rests, bool bounded) {
    return bounded ? 1.0f : std::min(1.0f, std::fabs(dot) + rests + (kSlack + kHalfSlack));
}

template <typename V>
inline float fineSquares(const FineQuery& q, const FineProjection& v) {
    const std::uint32_t bounded = q.boundedParts | v.boundedParts;
    const float cs =
        fineCoefficient(fineDot<V>(q, v, 0, kFineLevelAt), q.spectrumRest * fromHalf(v.spectrumRest),
                        (bounded & kSpectrumConstant) != 0);
    const float cl = fineCoefficient(fineDot<V>(q, v, kFineLevelAt, kFineSectionsAt),
                                     q.levelRest * fromHalf(v.levelRest), (bounded & kLevelConstant) != 0);
    const float cc = fineCoefficient(fineDot<V>(q, v, kFineSectionsAt, kFineLanes), 0.0f,
                                     (bounded & kSectionsConstant) != 0);
    return 0.6f * cs * cs + 0.2f * cl * cl + 0.2f * cc * cc;
}

[[gnu::flatten]] float fineSquaresBaseline(const FineQuery& q, const FineProjection& v) {
    return fineSquares<Lanes4>(q, v);
}

#if TONEMIRROR_PROJECTION_AVX2
[[gnu::target("avx2,fma,f16c"), gnu::flatten]] float fineSquaresAvx2(const FineQuery& q,
                                                                     const FineProjection& v) {
    return fineSquares<Lanes8>(q, v);
}
#endif

// Values [at, at + n) of a part; false when one is out of the halves' range (or not a number).
bool putHalves(const float* x, std::size_t n, std::uint16_t* at) {
    bool held = true;
    for (std::size_t i = 0; i < n; ++i) {
        // The parts of unit arrays stay within 1.
        const bool fits = std::fabs(x[i]) <= 2.0f;
        at[i] = fits ? toHalf(x[i]) : std::uint16_t{0};
        held = held && fits;
    }
    return held;
}

// A rest rounded up; false when it is out of range.
bool putRest(float x, std::uint16_t& at) {
    const bool fits = x >= 0.0f && x <= 2.0f;
    at = fits ? toHalfUp(x) : std::uint16_t{0};
    return fits;
}

} // namespace

void projectLevelAndSections(const ContentKey& key, const ContentSketch& sketch, ContentProjection& out) {
    static_assert(kProjectionLevelTerms <= ContentSketch::kLevelTerms);
    // The sketch's later terms join the rest.
    double rest = static_cast<double>(sketch.levelRest) * sketch.levelRest;
    for (std::size_t k = 0; k < ContentSketch::kLevelTerms; ++k) {
        if (k < kProjectionLevelTerms) {
            out.level[k] = sketch.level[k];
        } else {
            rest += static_cast<double>(sketch.level[k]) * sketch.level[k];
        }
    }
    out.levelRest = static_cast<float>(std::sqrt(rest));
    std::copy(key.sections, key.sections + kSectionCount, out.sections);
    out.constantMask = key.constantMask;
}

void storeLane(const ContentProjection& p, ProjectionBlock& block, ProjectionTail& tail, std::size_t lane) {
    for (std::size_t d = 0; d < kFirstStageAxes; ++d) {
        block.spectrum[d][lane] = toHalf(p.spectrum[d]);
    }
    for (std::size_t d = kFirstStageAxes; d < kProjectionAxes; ++d) {
        tail.spectrum[d - kFirstStageAxes][lane] = p.spectrum[d];
    }
    block.spectrumRest[lane] = toHalfUp(p.spectrumRestFirst);
    tail.spectrumRest[lane] = p.spectrumRest;
    for (std::size_t d = 0; d < kProjectionLevelTerms; ++d) {
        block.level[d][lane] = toHalf(p.level[d]);
    }
    block.levelRest[lane] = toHalfUp(p.levelRest);
    for (std::size_t d = 0; d < kSectionCount; ++d) {
        block.sections[d][lane] = toHalf(p.sections[d]);
    }
    block.spectrumConstant[lane] = toHalf(flag(p.constantMask, kSpectrumConstant));
    block.levelConstant[lane] = toHalf(flag(p.constantMask, kLevelConstant));
    block.sectionsConstant[lane] = toHalf(flag(p.constantMask, kSectionsConstant));
}

ContentProjection loadLane(const ProjectionBlock& block, const ProjectionTail& tail, std::size_t lane) {
    ContentProjection p{};
    for (std::size_t d = 0; d < kFirstStageAxes; ++d) {
        p.spectrum[d] = fromHalf(block.spectrum[d][lane]);
    }
    for (std::size_t d = kFirstStageAxes; d < kProjectionAxes; ++d) {
        p.spectrum[d] = tail.spectrum[d - kFirstStageAxes][lane];
    }
    p.spectrumRestFirst = fromHalf(block.spectrumRest[lane]);
    p.spectrumRest = tail.spectrumRest[lane];
    for (std::size_t d = 0; d < kProjectionLevelTerms; ++d) {
        p.level[d] = fromHalf(block.level[d][lane]);
    }
    p.levelRest = fromHalf(block.levelRest[lane]);
    for (std::size_t d = 0; d < kSectionCount; ++d) {
        p.sections[d] = fromHalf(block.sections[d][lane]);
    }
    p.constantMask = (block.spectrumConstant[lane] != 0 ? kSpectrumConstant : 0u) |
                     (block.levelConstant[lane] != 0 ? kLevelConstant : 0u) |
                     (block.sectionsConstant[lane] != 0 ? kSectionsConstant : 0u);
    return p;
}

void projectionBounds(const ContentProjection& query, const ProjectionBlock& block,
                      const ProjectionTail& tail, float (&bounds)[ProjectionBlock::kLanes]) {
    const Broadcast<Lanes4> q = broadcast<Lanes4>(query);
    for (std::size_t at = 0; at < kLanes; at += 4) {
        Lanes4 squares;
        reaching(q, block, tail, at, Lanes4{}, squares); // every lane reaches 0: both stages
        for (std::size_t l = 0; l < 4; ++l) {
            bounds[at + l] = std::sqrt(squares[l]) + kSlack;
        }
    }
}

void projectionPassMasks(const ContentProjection& query, std::span<const ProjectionBlock> blocks,
                         std::span<const ProjectionTail> tails, float floor, std::uint8_t* masks) {
    // sqrt(s) + slack >= floor, without the root.
    const float reach = floor - kSlack;
    if (!(reach > 0.0f)) {
        std::fill(masks, masks + blocks.size(), std::uint8_t{0xff});
        return;
    }
#if TONEMIRROR_PROJECTION_AVX2
    if (cpuHasAvx2FmaF16c()) {
        passMasksAvx2(query, blocks, tails, reach * reach, masks);
        return;
    }
#endif
    passMasksBaseline(query, blocks, tails, reach * reach, masks);
}

FineProjection fineProjection(const ContentProjection& p) {
    FineProjection f{};
    std::uint32_t bounded = p.constantMask & (kSpectrumConstant | kLevelConstant | kSectionsConstant);
    const bool spectrum =
        putHalves(p.spectrum, kFineAxes, f.values) && putRest(p.spectrumRestFine, f.spectrumRest);
    const bool level = putHalves(p.level, kProjectionLevelTerms, f.values + kFineLevelAt) &&
                       putRest(p.levelRest, f.levelRest);
    const bool sections = putHalves(p.sections, kSectionCount, f.values + kFineSectionsAt);
    bounded |= (spectrum ? 0u : kSpectrumConstant) | (level ? 0u : kLevelConstant) |
               (sections ? 0u : kSectionsConstant);
    f.boundedParts = bounded;
    return f;
}

FineQuery fineQuery(const FineProjection& own) {
    FineQuery q{};
    for (std::size_t d = 0; d < kFineLanes; ++d) {
        q.values[d] = fromHalf(own.values[d]);
    }
    q.spectrumRest = fromHalf(own.spectrumRest);
    q.levelRest = fromHalf(own.levelRest);
    q.boundedParts = own.boundedParts;
    return q;
}

float fineBound(const FineQuery& query, const FineProjection& other) {
    return std::sqrt(fineSquaresBaseline(query, other)) + kSlack;
}

bool fineReaches(const FineQuery& query, const FineProjection& other, float floor) {
    // sqrt(s) + slack >= floor, without the root.
    const float reach = floor - kSlack;
    if (!(reach > 0.0f)) {
        return true;
    }
#if TONEMIRROR_PROJECTION_AVX2
    if (cpuHasAvx2FmaF16c()) {
        return !(fineSquaresAvx2(query, other) < reach * reach);
    }
#endif
    return !(fineSquaresBaseline(query, other) < reach * reach);
}

std::size_t keepFineReaching(const FineQuery& query, std::span<const FineProjection> tracks,
                             std::span<std::uint32_t> positions, float floor) {
    // A track's five cache lines are asked for this many tracks ahead: enough to cover a miss.
    constexpr std::size_t kAhead = 8;
    const float reach = floor - kSlack;
    if (!(reach > 0.0f)) {
        return positions.size();
    }
    float (*squares)(const FineQuery&, const FineProjection&) = fineSquaresBaseline;
#if TONEMIRROR_PROJECTION_AVX2
    squares = cpuHasAvx2FmaF16c() ? fineSquaresAvx2 : squares;
#endif
    std::size_t kept = 0;
    for (std::size_t k = 0; k < positions.size(); ++k) {
        if (k + kAhead < positions.size()) {
            const auto* ahead = reinterpret_cast<const char*>(&tracks[positions[k + kAhead]]);
            for (std::size_t line = 0; line < sizeof(FineProjection); line += 64) {
                __builtin_prefetch(ahead + line);
            }
        }
        const std::uint32_t p = positions[k];
        positions[kept] = p;
        kept += squares(query, tracks[p]) < reach * reach ? 0 : 1;
    }
    return kept;
}

} // namespace tonemirror::analysis
