#pragma once

#include "analysis/TrackRecord.h"

#include <cstddef>
#include <cstdint>

namespace tonemirror::analysis {

// How alike two recordings sound, from their fingerprints alone: 0..1, symmetric, never fails.
// The root of 0.6 cs^2 + 0.2 cl^2 + 0.2 cc^2, where cs, cl, cc are the absolute correlations of the mean
// spectra (bins 0..1024), the level profiles and the section correlations.
float compareContent(const TrackRecord& first, const TrackRecord& second);

// Number of mean-spectrum bins that take part in the comparison.
inline constexpr std::size_t kComparedSpectrumBins = 1025;

// A record's fingerprint prepared once for fast comparison: each array mean-free and scaled to unit
// length, so a correlation is one dot product. Lanes past each array's values are zero. An array
// without variance is marked instead (it correlates as 1 with anything) and one with non-finite values
// is left all zero (it correlates as 0), as in the direct formula.
struct alignas(64) ContentKey {
    static constexpr std::size_t kSpectrumLanes = 1032;
    static constexpr std::size_t kLevelLanes = 104;
    // Lanes of the spectrum that the pruning bound reads (contentUpperBound).
    static constexpr std::size_t kBoundPrefix = 256;

    // The parts the pruning bound reads come first, so that it streams one contiguous prefix.
    float level[kLevelLanes];
    float sections[kSectionCount];
    // Bit 0: spectrum constant, bit 1: level profile constant, bit 2: section correlations constant.
    std::uint32_t constantMask;
    // Length of the spectrum lanes from kBoundPrefix on.
    float spectrumTailNorm;
    float reserved[4];
    float spectrum[kSpectrumLanes];
};
static_assert(sizeof(ContentKey) == 4608, "1152 floats: a multiple of 16 lanes and of 64 bytes");

void makeContentKey(const TrackRecord& record, ContentKey& key);

// Same score as compareContent(first, second) up to rounding (within 1e-5).
float compareContent(const ContentKey& first, const ContentKey& second);

// A cheap upper bound of compareContent(first, second), never below it: the level and section terms
// exactly, the spectrum term bounded from its first kBoundPrefix lanes by Cauchy-Schwarz
// (|u.v| <= |u_head.v_head| + |u_tail| |v_tail|). About a quarter of the cost of the score; a pair whose
// bound is below the threshold cannot be reported.
float contentUpperBound(const ContentKey& first, const ContentKey& second);

} // namespace tonemirror::analysis
