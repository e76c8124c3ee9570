#pragma once

#include "analysis/ProjectionBytes.h"

#include <cstddef>
#include <cstdint>

namespace tonemirror::analysis {

// What bounds the first byte stage (ProjectionBytes.h) for a whole group of stored lanes at once: the
// range of every byte over the group, the longest rests and errors, and every part some member bounds
// as 1. A query's dot product with any member of a part lies between the sums of each product taken at
// the end of its range that makes it least and most, so the larger magnitude of the two bounds the
// part for every member; a group whose bound stays under the floor holds no track the stage passes.
// It narrows only where the tracks of a group lie close together (libraries of many versions of the
// same pieces); on unrelated songs almost every group passes, at the cost of one bound per group.
struct ByteGroupBox {
    // Whole vectors of eight values, zero beyond kByteValues.
    static constexpr std::size_t kValues = (kByteValues + 7) / 8 * 8;

    std::int8_t lo[kValues] = {};
    std::int8_t hi[kValues] = {};
    std::uint8_t spectrumRest = 0;
    std::uint8_t levelRest = 0;
    std::uint8_t error[kByteParts] = {};
    std::uint8_t boundedParts = 0;
    bool empty = true;
};

// Takes lane `lane` of `block` into the box.
void widenByteGroup(ByteGroupBox& box, const ByteBlock& block, std::size_t lane);

// The bound of the query's content score with any member of the box: never below the first byte
// stage's bound of a member (nor, so, its content score). 0 for an empty box.
float byteGroupBound(const ByteQuery& query, const ByteGroupBox& box);

// Whether bytePassMasks could pass some member of the box at `floor`.
bool byteGroupReaches(const ByteQuery& query, const ByteGroupBox& box, float floor);

// The largest magnitude of the query's dot product of each part (spectrum, level, sections) with any
// byte vector in the box, in the query's integer units: exact. The vector kernel where the processor
// has one, and the plain one every processor runs; the two agree to the last bit.
void largestByteDots(const ByteQuery& query, const ByteGroupBox& box, std::int32_t (&most)[kByteParts]);
void largestByteDotsPlain(const ByteQuery& query, const ByteGroupBox& box, std::int32_t (&most)[kByteParts]);

} // namespace tonemirror::analysis
