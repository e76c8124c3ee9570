#include "analysis/ContentProjection.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tonemirror::analysis {

namespace {

// Must match the content key's flags.
constexpr std::uint32_t kSpectrumConstant = 1u;
constexpr std::uint32_t kLevelConstant = 2u;
constexpr std::uint32_t kSectionsConstant = 4u;

// Covers the float rounding of the projections, of the key's own dot products and of the sums below,
// as the sketch bound's slack does; far under any threshold step.
constexpr float kSlack = 2e-4f;

constexpr std::size_t kLanes = ProjectionBlock::kLanes;

float flag(std::uint32_t mask, std::uint32_t bit) {
    return (mask & bit) != 0 ? 1.0f : 0.0f;
}

// The kernel is written once over GCC's vector extension, for vectors V of W lanes (a block is
// kLanes / W of them), and built twice: for the baseline target (SSE, four lanes) and, where the
// processor has them, for AVX2 with FMA (eight lanes), chosen once at run time. Vectors are passed
// only between these inlined functions, so the warning that their calling convention depends on AVX
// does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

template <typename V>
[[gnu::always_inline]] inline V load(const float* x) {
    V v;
    std::memcpy(&v, x, sizeof v);
    return v;
}

template <typename V>
[[gnu::always_inline]] inline V splat(float x) {
    return V{} + x;
}

template <typename V>
[[gnu::always_inline]] inline V minimum(V a, V b) {
    return a < b ? a : b;
}

template <typename V>
[[gnu::always_inline]] inline V maximum(V a, V b) {
    return a < b ? b : a;
}

// The query's values, each in every lane, made once per query.
template <typename V>
struct Broadcast {
    V spectrum[kProjectionAxes];
    V level[kProjectionLevelTerms];
    V sections[kSectionCount];
    V spectrumRest, levelRest;
    V spectrumConstant, levelConstant, sectionsConstant;
};

template <typename V>
[[gnu::always_inline]] inline Broadcast<V> broadcast(const ContentProjection& q) {
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
    b.spectrumRest = splat<V>(q.spectrumRest);
    b.levelRest = splat<V>(q.levelRest);
    b.spectrumConstant = splat<V>(flag(q.constantMask, kSpectrumConstant));
    b.levelConstant = splat<V>(flag(q.constantMask, kLevelConstant));
    b.sectionsConstant = splat<V>(flag(q.constantMask, kSectionsConstant));
    return b;
}

// One correlation bound per lane: |q.v| + |r_q| |r_v| with the slack, at most 1, and 1 where either
// array is constant.
template <typename V, std::size_t N>
[[gnu::always_inline]] inline V coefficient(const V (&q)[N], const float (&v)[N][kLanes], std::size_t at,
                                            V rest, V qConstant, const float (&vConstant)[kLanes]) {
    V sum{};
    for (std::size_t d = 0; d < N; ++d) {
        sum += q[d] * load<V>(v[d] + at);
    }
    const V c = minimum(splat<V>(1.0f), maximum(sum, -sum) + rest + kSlack);
    return maximum(c, maximum(qConstant, load<V>(vConstant + at)));
}

// 0.6 cs^2 + 0.2 cl^2 + 0.2 cc^2 in the W lanes of the block from `at` on: the square of the bound
// before its final slack.
template <typename V>
[[gnu::always_inline]] inline V squaredBounds(const Broadcast<V>& q, const ProjectionBlock& block,
                                              std::size_t at) {
    const V cs =
        coefficient(q.spectrum, block.spectrum, at, q.spectrumRest * load<V>(block.spectrumRest + at),
                    q.spectrumConstant, block.spectrumConstant);
    const V cl = coefficient(q.level, block.level, at, q.levelRest * load<V>(block.levelRest + at),
                             q.levelConstant, block.levelConstant);
    const V cc = coefficient(q.sections, block.sections, at, V{}, q.sectionsConstant, block.sectionsConstant);
    return 0.6f * cs * cs + 0.2f * cl * cl + 0.2f * cc * cc;
}

template <typename V>
[[gnu::always_inline]] inline void passMasks(const ContentProjection& query,
                                             std::span<const ProjectionBlock> blocks, float needed,
                                             std::uint8_t* masks) {
    constexpr std::size_t kWidth = sizeof(V) / sizeof(float);
    const Broadcast<V> q = broadcast<V>(query);
    const V threshold = splat<V>(needed);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        unsigned m = 0;
        for (std::size_t at = 0; at < kLanes; at += kWidth) {
            const auto passed = squaredBounds(q, blocks[b], at) >= threshold; // -1 where it passes
            for (std::size_t l = 0; l < kWidth; ++l) {
                m |= static_cast<unsigned>(passed[l]) & (1u << (at + l));
            }
        }
        masks[b] = static_cast<std::uint8_t>(m);
    }
}

using Lanes4 = float __attribute__((vector_size(16)));

void passMasksBaseline(const ContentProjection& query, std::span<const ProjectionBlock> blocks, float needed,
                       std::uint8_t* masks) {
    passMasks<Lanes4>(query, blocks, needed, masks);
}

#if defined(__x86_64__)
using Lanes8 = float __attribute__((vector_size(32)));

[[gnu::target("avx2,fma")]] void passMasksAvx2(const ContentProjection& query,
                                               std::span<const ProjectionBlock> blocks, float needed,
                                               std::uint8_t* masks) {
    passMasks<Lanes8>(query, blocks, needed, masks);
}

bool hasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}
#endif

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

void storeLane(const ContentProjection& p, ProjectionBlock& block, std::size_t lane) {
    for (std::size_t d = 0; d < kProjectionAxes; ++d) {
        block.spectrum[d][lane] = p.spectrum[d];
    }
    block.spectrumRest[lane] = p.spectrumRest;
    for (std::size_t d = 0; d < kProjectionLevelTerms; ++d) {
        block.level[d][lane] = p.level[d];
    }
    block.levelRest[lane] = p.levelRest;
    for (std::size_t d = 0; d < kSectionCount; ++d) {
        block.sections[d][lane] = p.sections[d];
    }
    block.spectrumConstant[lane] = flag(p.constantMask, kSpectrumConstant);
    block.levelConstant[lane] = flag(p.constantMask, kLevelConstant);
    block.sectionsConstant[lane] = flag(p.constantMask, kSectionsConstant);
}

ContentProjection loadLane(const ProjectionBlock& block, std::size_t lane) {
    ContentProjection p{};
    for (std::size_t d = 0; d < kProjectionAxes; ++d) {
        p.spectrum[d] = block.spectrum[d][lane];
    }
    p.spectrumRest = block.spectrumRest[lane];
    for (std::size_t d = 0; d < kProjectionLevelTerms; ++d) {
        p.level[d] = block.level[d][lane];
    }
    p.levelRest = block.levelRest[lane];
    for (std::size_t d = 0; d < kSectionCount; ++d) {
        p.sections[d] = block.sections[d][lane];
    }
    p.constantMask = (block.spectrumConstant[lane] != 0.0f ? kSpectrumConstant : 0u) |
                     (block.levelConstant[lane] != 0.0f ? kLevelConstant : 0u) |
                     (block.sectionsConstant[lane] != 0.0f ? kSectionsConstant : 0u);
    return p;
}

void projectionBounds(const ContentProjection& query, const ProjectionBlock& block,
                      float (&bounds)[ProjectionBlock::kLanes]) {
    const Broadcast<Lanes4> q = broadcast<Lanes4>(query);
    for (std::size_t at = 0; at < kLanes; at += 4) {
        const Lanes4 squared = squaredBounds(q, block, at);
        for (std::size_t l = 0; l < 4; ++l) {
            bounds[at + l] = std::sqrt(squared[l]) + kSlack;
        }
    }
}

void projectionPassMasks(const ContentProjection& query, std::span<const ProjectionBlock> blocks, float floor,
                         std::uint8_t* masks) {
    // sqrt(s) + slack >= floor, without the root.
    const float reach = floor - kSlack;
    if (!(reach > 0.0f)) {
        std::fill(masks, masks + blocks.size(), std::uint8_t{0xff});
        return;
    }
#if defined(__x86_64__)
    if (hasAvx2()) {
        passMasksAvx2(query, blocks, reach * reach, masks);
        return;
    }
#endif
    passMasksBaseline(query, blocks, reach * reach, masks);
}

} // namespace tonemirror::analysis
