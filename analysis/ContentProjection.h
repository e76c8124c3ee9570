#pragma once

#include "analysis/ContentComparison.h"
#include "analysis/ContentSketch.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tonemirror::analysis {

// A few dozen numbers per track from which the content score of a pair is bounded at a few
// nanoseconds, so that the sketch bound runs only for the pairs that pass. For mean-free, unit-length
// arrays u and v and orthonormal axes P, |u.v| <= |Pu.Pv| + |r_u| |r_v|, r being what P leaves out:
// - spectrum: its coordinates on axes learned from the library (SpectrumBasis) and the rest's length,
//   both after the first kFirstStageAxes axes and after all of them;
// - level profile: its first cosine (DCT-II) terms, as in the sketch, and the rest's length;
// - section correlations: all ten values.
// Any orthonormal axes keep the bound; axes along which the library's spectra lie make it tight.
// The bound is worked out in two stages: on the first axes for every track, then on all of them for
// the few blocks where a track passed the first.
inline constexpr std::size_t kProjectionAxes = 64;
inline constexpr std::size_t kFirstStageAxes = 32;
inline constexpr std::size_t kProjectionLevelTerms = 8;

struct ContentProjection {
    float spectrum[kProjectionAxes];
    float spectrumRestFirst; // beyond the first kFirstStageAxes axes
    float spectrumRest;      // beyond all of them
    float level[kProjectionLevelTerms];
    float levelRest;
    float sections[kSectionCount];
    std::uint32_t constantMask; // as in the content key
};

// Eight tracks' values for the first stage, one lane per track in every value, so that one query is
// bounded against eight tracks with a few dozen vector operations and no sums across lanes. Kept as
// half-precision numbers (HalfFloat.h; the rests rounded up), so that the first stage, which reads
// every track, streams through half the memory; the bound allows for their rounding. The flags are 1
// in the lanes whose array is constant (it correlates as 1 with anything), else 0.
// The prefilter now keeps its first stage in bytes (ProjectionBytes.h); these blocks stay as the
// reference the bytes are measured against.
struct alignas(32) ProjectionBlock {
    static constexpr std::size_t kLanes = 8;

    std::uint16_t spectrum[kFirstStageAxes][kLanes];
    std::uint16_t spectrumRest[kLanes]; // beyond the first axes
    std::uint16_t level[kProjectionLevelTerms][kLanes];
    std::uint16_t levelRest[kLanes];
    std::uint16_t sections[kSectionCount][kLanes];
    std::uint16_t spectrumConstant[kLanes];
    std::uint16_t levelConstant[kLanes];
    std::uint16_t sectionsConstant[kLanes];
};

// The same eight tracks' values for the second stage, in single precision, kept apart so that the
// first stage streams through less memory.
struct alignas(32) ProjectionTail {
    static constexpr std::size_t kLanes = ProjectionBlock::kLanes;

    float spectrum[kProjectionAxes - kFirstStageAxes][kLanes];
    float spectrumRest[kLanes]; // beyond all the axes
};

// The level and section parts, and the flags (the spectrum part comes from a SpectrumBasis).
void projectLevelAndSections(const ContentKey& key, const ContentSketch& sketch, ContentProjection& out);

void storeLane(const ContentProjection& p, ProjectionBlock& block, ProjectionTail& tail, std::size_t lane);
// The values as stored: a query made from them is bounded against the others as exactly as from the
// projection itself.
ContentProjection loadLane(const ProjectionBlock& block, const ProjectionTail& tail, std::size_t lane);

// The bound of the query's content score with each track of the block (the smaller of the two
// stages'); never below compareContent of the two keys (nor of the two records) the projections were
// made from.
void projectionBounds(const ContentProjection& query, const ProjectionBlock& block,
                      const ProjectionTail& tail, float (&bounds)[ProjectionBlock::kLanes]);

// Bit l of masks[b] is set when the query's bound with lane l of blocks[b] (and tails[b]) reaches
// `floor`.
void projectionPassMasks(const ContentProjection& query, std::span<const ProjectionBlock> blocks,
                         std::span<const ProjectionTail> tails, float floor, std::uint8_t* masks);

} // namespace tonemirror::analysis
