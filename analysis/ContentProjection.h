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
// - spectrum: its coordinates on axes learned from the library (SpectrumBasis) and the rest's length;
// - level profile: its first cosine (DCT-II) terms, as in the sketch, and the rest's length;
// - section correlations: all ten values.
// Any orthonormal axes keep the bound; axes along which the library's spectra lie make it tight.
inline constexpr std::size_t kProjectionAxes = 32;
inline constexpr std::size_t kProjectionLevelTerms = 8;

struct ContentProjection {
    float spectrum[kProjectionAxes];
    float spectrumRest;
    float level[kProjectionLevelTerms];
    float levelRest;
    float sections[kSectionCount];
    std::uint32_t constantMask; // as in the content key
};

// Eight tracks' projections, one lane per track in every value, so that one query is bounded against
// eight tracks with a few dozen vector operations and no sums across lanes. The flags are 1 in the
// lanes whose array is constant (it correlates as 1 with anything), else 0.
struct alignas(32) ProjectionBlock {
    static constexpr std::size_t kLanes = 8;

    float spectrum[kProjectionAxes][kLanes];
    float spectrumRest[kLanes];
    float level[kProjectionLevelTerms][kLanes];
    float levelRest[kLanes];
    float sections[kSectionCount][kLanes];
    float spectrumConstant[kLanes];
    float levelConstant[kLanes];
    float sectionsConstant[kLanes];
};

// The level and section parts, and the flags (the spectrum part comes from a SpectrumBasis).
void projectLevelAndSections(const ContentKey& key, const ContentSketch& sketch, ContentProjection& out);

void storeLane(const ContentProjection& p, ProjectionBlock& block, std::size_t lane);
ContentProjection loadLane(const ProjectionBlock& block, std::size_t lane);

// The bound of the query's content score with each track of the block; never below compareContent
// of the two keys (nor of the two records) the projections were made from.
void projectionBounds(const ContentProjection& query, const ProjectionBlock& block,
                      float (&bounds)[ProjectionBlock::kLanes]);

// Bit l of masks[b] is set when the query's bound with lane l of blocks[b] reaches `floor`.
void projectionPassMasks(const ContentProjection& query, std::span<const ProjectionBlock> blocks, float floor,
                         std::uint8_t* masks);

} // namespace tonemirror::analysis
