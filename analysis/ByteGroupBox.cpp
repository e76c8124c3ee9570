#include "analysis/ByteGroupBox.h"

#include <algorithm>
#include <cmath>

// As the byte stage's kernel: GCC only, which carries a function's target into what it inlines.
#if defined(__x86_64__) && !defined(__clang__)
#define TONEMIRROR_BOX_AVX2 1
#include "analysis/CpuFeatures.h"

#include <immintrin.h>
#else
#define TONEMIRROR_BOX_AVX2 0
#endif

namespace tonemirror::analysis {

namespace {

// Keeps the group's bound at or above a member's, whatever order of operations either is worked out
// in (the lanes' kernel fuses its multiply-adds).
constexpr float kOrderSlack = 1e-5f;

constexpr std::size_t kPartFrom[kByteParts + 1] = {0, kFirstStageAxes,
                                                   kFirstStageAxes + kProjectionLevelTerms, kByteValues};

// The largest magnitude of the query's dot product of each part with any byte vector in the box.
// 16-bit values times bytes, at most 32 of them: the sums stay far inside 32 bits, and are exact.
void largestDotsPlain(const std::int16_t* q, const ByteGroupBox& box, std::int32_t (&most)[kByteParts]) {
    for (std::size_t part = 0; part < kByteParts; ++part) {
        std::int32_t up = 0;
        std::int32_t down = 0;
        for (std::size_t d = kPartFrom[part]; d < kPartFrom[part + 1]; ++d) {
            const std::int32_t atLo = static_cast<std::int32_t>(q[d]) * box.lo[d];
            const std::int32_t atHi = static_cast<std::int32_t>(q[d]) * box.hi[d];
            up += std::max(atLo, atHi);
            down += std::min(atLo, atHi);
        }
        most[part] = std::max(up, -down);
    }
}

#if TONEMIRROR_BOX_AVX2
// The parts fall on whole vectors of eight: the spectrum on the first four, the level terms on the
// fifth, the sections on the last two (zero beyond them).
static_assert(kFirstStageAxes == 32 && kProjectionLevelTerms == 8 && ByteGroupBox::kValues == 56);

[[gnu::target("avx2")]] std::int32_t sumOf(__m256i v) {
    const __m128i four = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i two = _mm_add_epi32(four, _mm_shuffle_epi32(four, 0x4e));
    return _mm_cvtsi128_si32(_mm_add_epi32(two, _mm_shuffle_epi32(two, 0xb1)));
}

[[gnu::target("avx2")]] void largestDotsAvx2(const std::int16_t* q, const ByteGroupBox& box,
                                             std::int32_t (&most)[kByteParts]) {
    __m256i up[7];
    __m256i down[7];
    for (std::size_t v = 0; v < 7; ++v) {
        const __m256i values =
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 8 * v)));
        const __m256i atLo = _mm256_mullo_epi32(
            values, _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(box.lo + 8 * v))));
        const __m256i atHi = _mm256_mullo_epi32(
            values, _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(box.hi + 8 * v))));
        up[v] = _mm256_max_epi32(atLo, atHi);
        down[v] = _mm256_min_epi32(atLo, atHi);
    }
    const std::int32_t ups[kByteParts] = {
        sumOf(_mm256_add_epi32(_mm256_add_epi32(up[0], up[1]), _mm256_add_epi32(up[2], up[3]))), sumOf(up[4]),
        sumOf(_mm256_add_epi32(up[5], up[6]))};
    const std::int32_t downs[kByteParts] = {
        sumOf(_mm256_add_epi32(_mm256_add_epi32(down[0], down[1]), _mm256_add_epi32(down[2], down[3]))),
        sumOf(down[4]), sumOf(_mm256_add_epi32(down[5], down[6]))};
    for (std::size_t part = 0; part < kByteParts; ++part) {
        most[part] = std::max(ups[part], -downs[part]);
    }
}

#endif

void largestDots(const ByteQuery& query, const ByteGroupBox& box, float (&dots)[kByteParts]) {
    std::int32_t most[kByteParts];
    largestByteDots(query, box, most);
    for (std::size_t part = 0; part < kByteParts; ++part) {
        dots[part] = query.unit[part] * static_cast<float>(most[part]);
    }
}

float coefficient(float dot, float spread, bool bounded) {
    return bounded ? 1.0f : std::min(1.0f, dot + spread + kByteSlack + kOrderSlack);
}

// 0.6 cs^2 + 0.2 cl^2 + 0.2 cc^2 for the box, as the lanes' first stage works it out.
float boxSquares(const ByteQuery& q, const ByteGroupBox& box) {
    const std::uint32_t bounded = q.boundedParts | box.boundedParts;
    const float rests[kByteParts] = {q.spectrumRest * (box.spectrumRest * kByteRestUnit),
                                     q.levelRest * (box.levelRest * kByteRestUnit), 0.0f};
    float dots[kByteParts];
    largestDots(q, box, dots);
    float c[kByteParts];
    for (std::size_t part = 0; part < kByteParts; ++part) {
        const float spread = q.length[part] * (box.error[part] * kByteErrorUnit) + q.ownError[part];
        c[part] = coefficient(dots[part], spread + rests[part], (bounded >> part & 1u) != 0);
    }
    return 0.6f * c[0] * c[0] + 0.2f * (c[1] * c[1] + c[2] * c[2]);
}

} // namespace

void largestByteDots(const ByteQuery& query, const ByteGroupBox& box, std::int32_t (&most)[kByteParts]) {
    std::int16_t q[ByteGroupBox::kValues] = {}; // zero beyond the values, as the box
    std::copy(query.values, query.values + kByteValues, q);
#if TONEMIRROR_BOX_AVX2
    if (cpuHasAvx2()) {
        largestDotsAvx2(q, box, most);
        return;
    }
#endif
    largestDotsPlain(q, box, most);
}

void largestByteDotsPlain(const ByteQuery& query, const ByteGroupBox& box, std::int32_t (&most)[kByteParts]) {
    std::int16_t q[ByteGroupBox::kValues] = {};
    std::copy(query.values, query.values + kByteValues, q);
    largestDotsPlain(q, box, most);
}

void widenByteGroup(ByteGroupBox& box, const ByteBlock& block, std::size_t lane) {
    for (std::size_t d = 0; d < kByteValues; ++d) {
        const std::int8_t v = block.values[d / 2][lane][d % 2];
        box.lo[d] = box.empty ? v : std::min(box.lo[d], v);
        box.hi[d] = box.empty ? v : std::max(box.hi[d], v);
    }
    const auto widen = [&](std::uint8_t& to, std::uint8_t from) {
        to = box.empty ? from : std::max(to, from);
    };
    widen(box.spectrumRest, block.spectrumRest[lane]);
    widen(box.levelRest, block.levelRest[lane]);
    for (std::size_t part = 0; part < kByteParts; ++part) {
        widen(box.error[part], block.error[part][lane]);
    }
    box.boundedParts =
        static_cast<std::uint8_t>((box.empty ? 0u : box.boundedParts) | block.boundedParts[lane]);
    box.empty = false;
}

float byteGroupBound(const ByteQuery& query, const ByteGroupBox& box) {
    return box.empty ? 0.0f : std::sqrt(boxSquares(query, box)) + kByteSlack + kOrderSlack;
}

bool byteGroupReaches(const ByteQuery& query, const ByteGroupBox& box, float floor) {
    if (box.empty) {
        return false;
    }
    // As bytePassMasks: sqrt(s) + slack >= floor, without the root; a bound worked out as not a number
    // passes.
    const float reach = floor - kByteSlack;
    return !(reach > 0.0f) || !(boxSquares(query, box) + kOrderSlack < reach * reach);
}

} // namespace tonemirror::analysis
