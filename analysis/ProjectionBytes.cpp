#include "analysis/ProjectionBytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// The eight-lane kernel needs GCC, which carries the target of a function into what it inlines; other
// compilers (the fuzzing build) take the plain one.
#if defined(__x86_64__) && !defined(__clang__)
#define TONEMIRROR_BYTES_AVX2 1
#include "analysis/CpuFeatures.h"

#include <immintrin.h>
#else
#define TONEMIRROR_BYTES_AVX2 0
#endif

namespace tonemirror::analysis {

namespace {

constexpr std::size_t kLanes = ByteBlock::kLanes;
constexpr float kSlack = kByteSlack;
constexpr float kRestUnit = kByteRestUnit;
// The query's values are 16-bit: a pair of products with a byte stays far inside 32 bits, and so do
// the sums of the at most 16 pairs of a part.
constexpr double kQueryLevels = 32767.0;
constexpr double kByteLevels = 127.0;

struct Part {
    std::size_t from;
    std::size_t to;
};
constexpr Part kParts[kByteParts] = {{0, kFirstStageAxes},
                                     {kFirstStageAxes, kFirstStageAxes + kProjectionLevelTerms},
                                     {kFirstStageAxes + kProjectionLevelTerms, kByteValues}};

void valuesOf(const ContentProjection& p, float (&out)[kByteValues]) {
    std::copy(p.spectrum, p.spectrum + kFirstStageAxes, out);
    std::copy(p.level, p.level + kProjectionLevelTerms, out + kFirstStageAxes);
    std::copy(p.sections, p.sections + kSectionCount, out + kFirstStageAxes + kProjectionLevelTerms);
}

float restOf(std::uint8_t code) {
    return static_cast<float>(code) * kRestUnit;
}

float errorOf(std::uint8_t code) {
    return static_cast<float>(code) * kByteErrorUnit;
}

// The smallest code whose rest is not below x; false when there is none (or x is not a number).
bool restCode(float x, std::uint8_t& code) {
    if (!(x <= restOf(255))) {
        return false;
    }
    code = static_cast<std::uint8_t>(std::clamp(std::floor(x * 255.0f), 0.0f, 255.0f));
    while (restOf(code) < x) {
        ++code;
    }
    return true;
}

// The float not below x.
float roundedUp(double x) {
    const auto f = static_cast<float>(x);
    return static_cast<double>(f) < x ? std::nextafter(f, 2.0f * f + 1.0f) : f;
}

std::int8_t byteOf(const ByteBlock& block, std::size_t lane, std::size_t d) {
    return block.values[d / 2][lane][d % 2];
}

// Part `part` of lane `lane`: its bytes, and whether the rounding's error fits a code.
bool storePart(const float (&values)[kByteValues], const ByteSteps& steps, std::size_t part, ByteBlock& block,
               std::size_t lane) {
    double error = 0.0;
    bool finite = true;
    for (std::size_t d = kParts[part].from; d < kParts[part].to; ++d) {
        const double v = values[d];
        finite = finite && std::isfinite(v);
        const double k =
            finite ? std::clamp(std::nearbyint(v / steps.step[d]), -kByteLevels, kByteLevels) : 0.0;
        block.values[d / 2][lane][d % 2] = static_cast<std::int8_t>(k);
        const double off = v - k * static_cast<double>(steps.step[d]);
        error += off * off;
    }
    const double units = std::ceil(std::sqrt(error) / kByteErrorUnit + 1e-6);
    block.error[part][lane] = finite && units < 255.0 ? static_cast<std::uint8_t>(units) : 0;
    return finite && units < 255.0;
}

// The query's values of one part as 16-bit integers over the steps, with what that rounding changes.
void queryPart(const ByteBlock& block, std::size_t lane, const ByteSteps& steps, std::size_t part,
               ByteQuery& q) {
    double largest = 0.0;
    for (std::size_t d = kParts[part].from; d < kParts[part].to; ++d) {
        const double step = steps.step[d];
        largest = std::max(largest, std::fabs(byteOf(block, lane, d) * step * step));
    }
    const float unit = largest > 0.0 ? static_cast<float>(largest / kQueryLevels) : 1.0f;
    double off = 0.0;
    double length = 0.0;
    for (std::size_t d = kParts[part].from; d < kParts[part].to; ++d) {
        const double step = steps.step[d];
        const double own = byteOf(block, lane, d) * step;
        const double n = std::clamp(std::nearbyint(own * step / unit), -kQueryLevels, kQueryLevels);
        q.values[d] = static_cast<std::int16_t>(n);
        const double scaled = n * static_cast<double>(unit) / step; // q' in the axes' units
        off += (own - scaled) * (own - scaled);
        length += scaled * scaled;
    }
    q.unit[part] = unit;
    q.length[part] = roundedUp(std::sqrt(length));
    q.ownError[part] = roundedUp(std::sqrt(off) + errorOf(block.error[part][lane]));
}

float coefficient(float dot, float spread, bool bounded) {
    return bounded ? 1.0f : std::min(1.0f, std::fabs(dot) + spread + kSlack);
}

std::int32_t partSum(const ByteQuery& q, const ByteBlock& block, std::size_t lane, std::size_t part) {
    std::int32_t sum = 0;
    for (std::size_t d = kParts[part].from; d < kParts[part].to; ++d) {
        sum += static_cast<std::int32_t>(q.values[d]) * byteOf(block, lane, d);
    }
    return sum;
}

// The squares of lane `lane`'s bound (0.6 cs^2 + 0.2 cl^2 + 0.2 cc^2, before the final slack), from
// both stages; `firstSquares` receives the first stage's alone.
float laneSquares(const ByteQuery& q, const ByteBlock& block, const ProjectionTail& tail, std::size_t lane,
                  float& firstSquares) {
    const std::uint32_t bounded = q.boundedParts | block.boundedParts[lane];
    float head[kByteParts];
    float spread[kByteParts];
    for (std::size_t part = 0; part < kByteParts; ++part) {
        head[part] = q.unit[part] * static_cast<float>(partSum(q, block, lane, part));
        spread[part] = q.length[part] * errorOf(block.error[part][lane]) + q.ownError[part];
    }
    const float first = coefficient(head[0], spread[0] + q.spectrumRest * restOf(block.spectrumRest[lane]),
                                    (bounded & 1u) != 0);
    float whole = head[0];
    for (std::size_t d = 0; d < kProjectionAxes - kFirstStageAxes; ++d) {
        whole += q.tail[d] * tail.spectrum[d][lane];
    }
    const float cs = std::min(
        first, coefficient(whole, spread[0] + q.tailRest * tail.spectrumRest[lane], (bounded & 1u) != 0));
    const float cl =
        coefficient(head[1], spread[1] + q.levelRest * restOf(block.levelRest[lane]), (bounded & 2u) != 0);
    const float cc = coefficient(head[2], spread[2], (bounded & 4u) != 0);
    const float others = 0.2f * cl * cl + 0.2f * cc * cc;
    firstSquares = 0.6f * first * first + others;
    return 0.6f * cs * cs + others;
}

float laneSquares(const ByteQuery& q, const ByteBlock& block, const ProjectionTail& tail, std::size_t lane) {
    float firstSquares = 0.0f;
    return laneSquares(q, block, tail, lane, firstSquares);
}

void passMasksPlain(const ByteQuery& q, std::span<const ByteBlock> blocks,
                    std::span<const ProjectionTail> tails, float needed, std::uint8_t* masks) {
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        unsigned m = 0;
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            m |= !(laneSquares(q, blocks[b], tails[b], lane) < needed) ? 1u << lane : 0u;
        }
        masks[b] = static_cast<std::uint8_t>(m);
    }
}

#if TONEMIRROR_BYTES_AVX2
#pragma GCC diagnostic ignored "-Wpsabi"
#define TONEMIRROR_AVX2 gnu::target("avx2,fma"), gnu::always_inline

constexpr std::size_t kPairs = kByteValues / 2;

// sum(values * bytes) of pairs [from, to) in every lane: sixteen products an instruction.
[[TONEMIRROR_AVX2]] inline __m256i pairSums(const ByteBlock& block, const __m256i* query, std::size_t from,
                                            std::size_t to) {
    __m256i sum = _mm256_setzero_si256();
    for (std::size_t p = from; p < to; ++p) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.values[p]));
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(_mm256_cvtepi8_epi16(bytes), query[p]));
    }
    return sum;
}

[[TONEMIRROR_AVX2]] inline __m256 codes(const std::uint8_t* x, float unit) {
    const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x));
    return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(eight)), _mm256_set1_ps(unit));
}

// All ones in the lanes where part `bit` bounds as 1.
[[TONEMIRROR_AVX2]] inline __m256 boundedLanes(const ByteBlock& block, std::uint32_t queryBounded, int bit) {
    const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block.boundedParts));
    const __m256i flags =
        _mm256_or_si256(_mm256_cvtepu8_epi32(eight), _mm256_set1_epi32(static_cast<int>(queryBounded)));
    const __m256i set = _mm256_and_si256(flags, _mm256_set1_epi32(bit));
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(set, _mm256_set1_epi32(bit)));
}

[[TONEMIRROR_AVX2]] inline __m256 coefficient8(__m256 dot, __m256 spread, __m256 bounded) {
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), dot);
    const __m256 c = _mm256_min_ps(_mm256_set1_ps(1.0f),
                                   _mm256_add_ps(_mm256_add_ps(magnitude, spread), _mm256_set1_ps(kSlack)));
    return _mm256_blendv_ps(c, _mm256_set1_ps(1.0f), bounded);
}

[[TONEMIRROR_AVX2]] inline __m256 broadcastSum(__m256i sum, float unit) {
    return _mm256_mul_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(unit));
}

// The bit of each lane whose squares are not below `needed` (a lane worked out as not a number passes).
[[TONEMIRROR_AVX2]] inline int reaching8(__m256 squares, __m256 needed) {
    return _mm256_movemask_ps(_mm256_cmp_ps(squares, needed, _CMP_NLT_UQ));
}

// Four sums, so that each multiply-add need not wait for the one before.
[[TONEMIRROR_AVX2]] inline __m256 tailDot(const ByteQuery& q, const ProjectionTail& tail, __m256 head) {
    constexpr std::size_t kAxes = kProjectionAxes - kFirstStageAxes;
    static_assert(kAxes % 4 == 0, "the axes are summed four at a time");
    __m256 sum[4] = {head, _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
    for (std::size_t d = 0; d < kAxes; d += 4) {
        for (std::size_t k = 0; k < 4; ++k) {
            sum[k] =
                _mm256_fmadd_ps(_mm256_set1_ps(q.tail[d + k]), _mm256_loadu_ps(tail.spectrum[d + k]), sum[k]);
        }
    }
    return _mm256_add_ps(_mm256_add_ps(sum[0], sum[1]), _mm256_add_ps(sum[2], sum[3]));
}

// A block that passed the first stage, waiting for its second: its tail (a kilobyte that the blocks'
// stream does not bring in) is fetched ahead while the next blocks are bounded.
struct PendingTail {
    const ProjectionTail* tail;
    std::uint8_t* mask;
    __m256 head;
    __m256 spread;
    __m256 bounded;
    __m256 first;
    __m256 others;
};
constexpr std::size_t kTailsAhead = 8;

[[TONEMIRROR_AVX2]] inline void fetchTail(const ProjectionTail& tail) {
    const char* bytes = reinterpret_cast<const char*>(&tail);
    for (std::size_t at = 0; at < sizeof(ProjectionTail); at += 64) {
        _mm_prefetch(bytes + at, _MM_HINT_T0);
    }
}

// The other axes of a block that passed the first stage.
[[TONEMIRROR_AVX2]] inline void finishTail(const ByteQuery& q, const PendingTail& p, __m256 threshold) {
    const __m256 rests = _mm256_mul_ps(_mm256_set1_ps(q.tailRest), _mm256_loadu_ps(p.tail->spectrumRest));
    const __m256 cs = _mm256_min_ps(
        p.first, coefficient8(tailDot(q, *p.tail, p.head), _mm256_add_ps(rests, p.spread), p.bounded));
    *p.mask = static_cast<std::uint8_t>(
        reaching8(_mm256_fmadd_ps(_mm256_set1_ps(0.6f), _mm256_mul_ps(cs, cs), p.others), threshold));
}

[[gnu::target("avx2,fma")]] void passMasksAvx2(const ByteQuery& q, std::span<const ByteRange> ranges,
                                               float needed, std::uint8_t* masks) {
    __m256i query[kPairs];
    for (std::size_t p = 0; p < kPairs; ++p) {
        std::int32_t pair;
        std::memcpy(&pair, q.values + 2 * p, sizeof pair);
        query[p] = _mm256_set1_epi32(pair);
    }
    constexpr std::size_t kLevelPair = kFirstStageAxes / 2;
    constexpr std::size_t kSectionPair = (kFirstStageAxes + kProjectionLevelTerms) / 2;
    const __m256 threshold = _mm256_set1_ps(needed);
    PendingTail pending[kTailsAhead];
    std::size_t waiting = 0; // pending[waiting % kTailsAhead] is the oldest once the ring is full
    for (const ByteRange& range : ranges) {
        const std::span<const ByteBlock> blocks(range.blocks, range.count);
        const ProjectionTail* tails = range.tails;
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            const ByteBlock& block = blocks[b];
            const __m256 headS = broadcastSum(pairSums(block, query, 0, kLevelPair), q.unit[0]);
            const __m256 headL = broadcastSum(pairSums(block, query, kLevelPair, kSectionPair), q.unit[1]);
            const __m256 headC = broadcastSum(pairSums(block, query, kSectionPair, kPairs), q.unit[2]);
            __m256 spread[kByteParts];
            for (std::size_t part = 0; part < kByteParts; ++part) {
                spread[part] =
                    _mm256_fmadd_ps(_mm256_set1_ps(q.length[part]), codes(block.error[part], kByteErrorUnit),
                                    _mm256_set1_ps(q.ownError[part]));
            }
            const __m256 boundedS = boundedLanes(block, q.boundedParts, 1);
            const __m256 first =
                coefficient8(headS,
                             _mm256_fmadd_ps(_mm256_set1_ps(q.spectrumRest),
                                             codes(block.spectrumRest, kRestUnit), spread[0]),
                             boundedS);
            const __m256 cl = coefficient8(
                headL,
                _mm256_fmadd_ps(_mm256_set1_ps(q.levelRest), codes(block.levelRest, kRestUnit), spread[1]),
                boundedLanes(block, q.boundedParts, 2));
            const __m256 cc = coefficient8(headC, spread[2], boundedLanes(block, q.boundedParts, 4));
            const __m256 others =
                _mm256_mul_ps(_mm256_set1_ps(0.2f), _mm256_fmadd_ps(cl, cl, _mm256_mul_ps(cc, cc)));
            masks[b] = 0;
            if (reaching8(_mm256_fmadd_ps(_mm256_set1_ps(0.6f), _mm256_mul_ps(first, first), others),
                          threshold) != 0) {
                fetchTail(tails[b]);
                PendingTail& slot = pending[waiting % kTailsAhead];
                if (waiting >= kTailsAhead) {
                    finishTail(q, slot, threshold);
                }
                slot = {&tails[b], &masks[b], headS, spread[0], boundedS, first, others};
                ++waiting;
            }
        }
        masks += blocks.size();
    }
    for (std::size_t k = waiting > kTailsAhead ? waiting - kTailsAhead : 0; k < waiting; ++k) {
        finishTail(q, pending[k % kTailsAhead], threshold);
    }
}

#endif

} // namespace

ByteSteps ByteSteps::learn(std::span<const ContentProjection> sample) {
    float largest[kByteValues] = {};
    for (const ContentProjection& p : sample) {
        float values[kByteValues];
        valuesOf(p, values);
        for (std::size_t d = 0; d < kByteValues; ++d) {
            largest[d] = std::isfinite(values[d]) ? std::max(largest[d], std::fabs(values[d])) : largest[d];
        }
    }
    ByteSteps steps{};
    for (std::size_t d = 0; d < kByteValues; ++d) {
        // Values of unit arrays stay within 1; a tiny step would only make every later error large.
        steps.step[d] = std::max(largest[d] / static_cast<float>(kByteLevels), 0x1p-16f);
    }
    return steps;
}

void storeByteLane(const ContentProjection& p, const ByteSteps& steps, ByteBlock& block, ProjectionTail& tail,
                   std::size_t lane) {
    float values[kByteValues];
    valuesOf(p, values);
    std::uint32_t bounded = p.constantMask & 7u;
    for (std::size_t part = 0; part < kByteParts; ++part) {
        bounded |= storePart(values, steps, part, block, lane) ? 0u : 1u << part;
    }
    bounded |= restCode(p.spectrumRestFirst, block.spectrumRest[lane]) ? 0u : 1u;
    bounded |= restCode(p.levelRest, block.levelRest[lane]) ? 0u : 2u;
    block.boundedParts[lane] = static_cast<std::uint8_t>(bounded);
    for (std::size_t d = kFirstStageAxes; d < kProjectionAxes; ++d) {
        tail.spectrum[d - kFirstStageAxes][lane] = p.spectrum[d];
    }
    tail.spectrumRest[lane] = p.spectrumRest;
}

ByteQuery byteQuery(const ByteBlock& block, const ProjectionTail& tail, std::size_t lane,
                    const ByteSteps& steps) {
    ByteQuery q{};
    for (std::size_t part = 0; part < kByteParts; ++part) {
        queryPart(block, lane, steps, part, q);
    }
    q.spectrumRest = restOf(block.spectrumRest[lane]);
    q.levelRest = restOf(block.levelRest[lane]);
    q.boundedParts = block.boundedParts[lane];
    for (std::size_t d = 0; d < kProjectionAxes - kFirstStageAxes; ++d) {
        q.tail[d] = tail.spectrum[d][lane];
    }
    q.tailRest = tail.spectrumRest[lane];
    return q;
}

void byteBounds(const ByteQuery& query, const ByteBlock& block, const ProjectionTail& tail,
                float (&bounds)[ByteBlock::kLanes]) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        bounds[lane] = std::sqrt(laneSquares(query, block, tail, lane)) + kSlack;
    }
}

void byteStageBounds(const ByteQuery& query, const ByteBlock& block, const ProjectionTail& tail,
                     float (&first)[ByteBlock::kLanes], float (&both)[ByteBlock::kLanes]) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        float firstSquares = 0.0f;
        both[lane] = std::sqrt(laneSquares(query, block, tail, lane, firstSquares)) + kSlack;
        first[lane] = std::sqrt(firstSquares) + kSlack;
    }
}

void bytePassMasks(const ByteQuery& query, std::span<const ByteBlock> blocks,
                   std::span<const ProjectionTail> tails, float floor, std::uint8_t* masks) {
    const ByteRange range{blocks.data(), tails.data(), blocks.size()};
    bytePassMasks(query, {&range, 1}, floor, masks);
}

void bytePassMasks(const ByteQuery& query, std::span<const ByteRange> ranges, float floor,
                   std::uint8_t* masks) {
    // sqrt(s) + slack >= floor, without the root.
    const float reach = floor - kSlack;
    if (!(reach > 0.0f)) {
        for (const ByteRange& range : ranges) {
            masks = std::fill_n(masks, range.count, std::uint8_t{0xff});
        }
        return;
    }
#if TONEMIRROR_BYTES_AVX2
    if (cpuHasAvx2Fma()) {
        passMasksAvx2(query, ranges, reach * reach, masks);
        return;
    }
#endif
    for (const ByteRange& range : ranges) {
        passMasksPlain(query, {range.blocks, range.count}, {range.tails, range.count}, reach * reach, masks);
        masks += range.count;
    }
}

} // namespace tonemirror::analysis
