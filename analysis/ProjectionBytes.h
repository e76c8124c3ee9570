#pragma once

#include "analysis/ContentProjection.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tonemirror::analysis {

// The first stage of the projection bound (ContentProjection.h) with every value in one signed byte, so
// that the stage that reads every earlier track streams through half the memory of halves and works
// with integer multiply-adds that take sixteen values an instruction. Each value has its own step
// (learned once from the library's first tracks); each lane keeps the length of what the rounding to
// bytes left out of each part, so the bound stays exact:
//   |q.v| <= |q'.v'| + |q'| |v - v'| + |q - q'| |v|, with |v| <= 1 for the parts of unit arrays,
// where v' are the bytes times their steps and q' the query's values as the integers it is multiplied
// with. The second stage (the other axes, in single precision) is the ProjectionTail's, as before.
inline constexpr std::size_t kByteValues = kFirstStageAxes + kProjectionLevelTerms + kSectionCount;
inline constexpr std::size_t kByteParts = 3; // spectrum, level, sections: bit p of the flags is part p

static_assert(kFirstStageAxes % 2 == 0 && kProjectionLevelTerms % 2 == 0 && kSectionCount % 2 == 0,
              "the values are multiplied two at a time, and no pair may span two parts");

// The step of each value's byte: the largest magnitude among the library's first tracks over 127.
// Later values beyond that range are clamped; their error grows, and is kept with them.
struct ByteSteps {
    float step[kByteValues];

    static ByteSteps learn(std::span<const ContentProjection> sample);
};

struct alignas(32) ByteBlock {
    static constexpr std::size_t kLanes = ProjectionBlock::kLanes;

    // Two values of every lane side by side, as a pair-wise multiply-add reads them.
    std::int8_t values[kByteValues / 2][kLanes][2];
    std::uint8_t spectrumRest[kLanes]; // beyond the first axes, in 255ths, rounded up
    std::uint8_t levelRest[kLanes];
    std::uint8_t error[kByteParts][kLanes]; // |v - v'| of each part in kByteErrorUnit, rounded up
    // Bit p: part p bounds as 1 (a constant array, which correlates as 1 with anything, or a value the
    // bytes cannot hold within a countable error).
    std::uint8_t boundedParts[kLanes];
};

inline constexpr float kByteErrorUnit = 0x1p-12f;
inline constexpr float kByteRestUnit = 1.0f / 255.0f;
// Covers the float rounding of the projections, of the key's own dot products and of the bound's sums.
inline constexpr float kByteSlack = 2e-4f;

// What a query needs, worked out once from its own lane.
struct ByteQuery {
    std::int16_t values[kByteValues]; // q' over the steps: q'.v' = unit[p] * sum(values * bytes)
    float unit[kByteParts];
    float length[kByteParts];   // |q'| of each part, times a lane's error
    float ownError[kByteParts]; // |q - q'| of each part, with the query's own rounding to bytes
    float spectrumRest;         // beyond the first axes
    float levelRest;
    std::uint32_t boundedParts;
    float tail[kProjectionAxes - kFirstStageAxes];
    float tailRest; // beyond all the axes
};

// Stores the first stage of `p` in lane `lane` of `block` and the second in `tail`.
void storeByteLane(const ContentProjection& p, const ByteSteps& steps, ByteBlock& block, ProjectionTail& tail,
                   std::size_t lane);

// The query of the track in lane `lane`, made from the values as stored (the rounding of its own bytes
// is allowed for), so the projection itself need not be kept.
ByteQuery byteQuery(const ByteBlock& block, const ProjectionTail& tail, std::size_t lane,
                    const ByteSteps& steps);

// The bound of the query's content score with each track of the block (the smaller of the two
// stages'); never below compareContent of the two keys the projections were made from.
void byteBounds(const ByteQuery& query, const ByteBlock& block, const ProjectionTail& tail,
                float (&bounds)[ByteBlock::kLanes]);

// The first stage's bound alone, and byteBounds' (for measuring what each stage prunes).
void byteStageBounds(const ByteQuery& query, const ByteBlock& block, const ProjectionTail& tail,
                     float (&first)[ByteBlock::kLanes], float (&both)[ByteBlock::kLanes]);

// Bit l of masks[b] is set when the query's bound with lane l of blocks[b] (and tails[b]) reaches
// `floor`.
void bytePassMasks(const ByteQuery& query, std::span<const ByteBlock> blocks,
                   std::span<const ProjectionTail> tails, float floor, std::uint8_t* masks);

// Blocks of eight lanes stored apart (a group's), with their tails.
struct ByteRange {
    const ByteBlock* blocks;
    const ProjectionTail* tails;
    std::size_t count;
};

// The same for several ranges of blocks in one pass (the query made ready once): the masks of each
// range follow those of the one before.
void bytePassMasks(const ByteQuery& query, std::span<const ByteRange> ranges, float floor,
                   std::uint8_t* masks);

} // namespace tonemirror::analysis
