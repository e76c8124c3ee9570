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
// A third stage, for the tracks that pass the second, reads one track at a time: twice the axes, in
// halves (FineProjection).
inline constexpr std::size_t kProjectionAxes = 64;
inline constexpr std::size_t kFirstStageAxes = 32;
inline constexpr std::size_t kFineAxes = 128;
inline constexpr std::size_t kProjectionLevelTerms = 8;

struct ContentProjection {
    // The first kProjectionAxes serve the first two stages, all of them the third; axes a basis does
    // not have are 0, and their part stays in the rest.
    float spectrum[kFineAxes];
    float spectrumRestFirst; // beyond the first kFirstStageAxes axes
    float spectrumRest;      // beyond kProjectionAxes
    float spectrumRestFine;  // beyond kFineAxes
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

// The third stage of one track: the spectrum on kFineAxes axes, the level terms and the sections, each
// as a half, with the rests rounded up, so that a track that passed the first two stages is bounded
// again from a few cache lines of its own instead of its sketch or its spectrum. Each part of a unit
// array stays within 2^-11 of itself by rounding, which the bound allows for.
inline constexpr std::size_t kFineLevelAt = kFineAxes;
inline constexpr std::size_t kFineSectionsAt = kFineLevelAt + kProjectionLevelTerms;
inline constexpr std::size_t kFineValues = kFineSectionsAt + kSectionCount;
inline constexpr std::size_t kFineLanes = (kFineValues + 7) / 8 * 8; // whole vectors of eight

struct alignas(64) FineProjection {
    std::uint16_t values[kFineLanes]; // zero beyond kFineValues
    std::uint16_t spectrumRest;       // beyond kFineAxes
    std::uint16_t levelRest;
    // Bit p (as in constantMask): part p bounds as 1, for a constant array or a value a half cannot hold.
    std::uint32_t boundedParts;
};
static_assert(sizeof(FineProjection) == 320, "five cache lines");

// What a query needs of its own third stage, made once from its stored values.
struct FineQuery {
    float values[kFineLanes];
    float spectrumRest;
    float levelRest;
    std::uint32_t boundedParts;
};

// The level and section parts, and the flags (the spectrum part comes from a SpectrumBasis).
void projectLevelAndSections(const ContentKey& key, const ContentSketch& sketch, ContentProjection& out);

FineProjection fineProjection(const ContentProjection& p);
FineQuery fineQuery(const FineProjection& own);
// The third stage's bound of the pair's content score: never below compareContent of the two keys.
float fineBound(const FineQuery& query, const FineProjection& other);
// Whether fineBound reaches `floor` (the eight-lane kernel where the processor has it).
bool fineReaches(const FineQuery& query, const FineProjection& other, float floor);
// Keeps, in order, the positions whose track in `tracks` reaches `floor` with the query; returns how
// many. The tracks are read ahead of the bounds, so that their cache misses overlap.
std::size_t keepFineReaching(const FineQuery& query, std::span<const FineProjection> tracks,
                             std::span<std::uint32_t> positions, float floor);

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
