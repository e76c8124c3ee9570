#include "analysis/ByteGroupBox.h"

#include <algorithm>
#include <cmath>

namespace tonemirror::analysis {

namespace {

// Keeps the group's bound at or above a member's, whatever order of operations either is worked out
// in (the lanes' kernel fuses its multiply-adds).
constexpr float kOrderSlack = 1e-5f;

constexpr std::size_t kPartFrom[kByteParts + 1] = {0, kFirstStageAxes,
                                                   kFirstStageAxes + kProjectionLevelTerms, kByteValues};

// The largest magnitude of the query's dot product of part `part` with any byte vector in the box.
float largestDot(const ByteQuery& q, const ByteGroupBox& box, std::size_t part) {
    // 16-bit values times bytes, at most 32 of them: the sums stay far inside 32 bits.
    std::int32_t most = 0;
    std::int32_t least = 0;
    for (std::size_t d = kPartFrom[part]; d < kPartFrom[part + 1]; ++d) {
        const std::int32_t atLo = static_cast<std::int32_t>(q.values[d]) * box.lo[d];
        const std::int32_t atHi = static_cast<std::int32_t>(q.values[d]) * box.hi[d];
        most += std::max(atLo, atHi);
        least += std::min(atLo, atHi);
    }
    return q.unit[part] * static_cast<float>(std::max(most, -least));
}

float coefficient(float dot, float spread, bool bounded) {
    return bounded ? 1.0f : std::min(1.0f, dot + spread + kByteSlack + kOrderSlack);
}

// 0.6 cs^2 + 0.2 cl^2 + 0.2 cc^2 for the box, as the lanes' first stage works it out.
float boxSquares(const ByteQuery& q, const ByteGroupBox& box) {
    const std::uint32_t bounded = q.boundedParts | box.boundedParts;
    const float rests[kByteParts] = {q.spectrumRest * (box.spectrumRest * kByteRestUnit),
                                     q.levelRest * (box.levelRest * kByteRestUnit), 0.0f};
    float c[kByteParts];
    for (std::size_t part = 0; part < kByteParts; ++part) {
        const float spread = q.length[part] * (box.error[part] * kByteErrorUnit) + q.ownError[part];
        c[part] = coefficient(largestDot(q, box, part), spread + rests[part], (bounded >> part & 1u) != 0);
    }
    return 0.6f * c[0] * c[0] + 0.2f * (c[1] * c[1] + c[2] * c[2]);
}

} // namespace

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
