#pragma once

#include "analysis/TrackRecord.h"

#include <cstddef>
#include <cstdint>

namespace tonemirror::analysis {

// How alike two recordings sound, from their fingerprints alone: 0..1, symmetric, never fails.
// The root of 0.6 cs^2 + 0.2 cl^2 + 0.2 cc^2, where cs, cl, cc are the absolute correlations of the mean
// spectra (bins 0..1024), the level profiles and the section correlations.
float compareContent(const TrackRecord& first, const TrackRecord& second);

// A record's fingerprint prepared once for fast comparison: each array mean-free and scaled to unit
// length, so a correlation is one dot product. Lanes past each array's values are zero. An array
// without variance is marked instead (it correlates as 1 with anything) and one with non-finite values
// is left all zero (it correlates as 0), as in the direct formula.
// Of the spectrum, only the lanes the pruning bound reads are kept; the rest is worked out from the
// record's own values, which the key points to (the record must outlive the key and keep its spectrum).
struct alignas(64) ContentKey {
    // Lanes of the whole mean-free spectrum (spectrumLanes).
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
    float spectrumHead[kBoundPrefix];
    // The record's spectrum (kComparedSpectrumBins values), its mean and the inverse length of its
    // mean-free values: lane i is (spectrum[i] - spectrumMean) * spectrumScale, rounded to float.
    // spectrumScale 0: every lane is zero (constant or non-finite values).
    const float* spectrum;
    double spectrumMean;
    double spectrumScale;
};
static_assert(sizeof(ContentKey) == 1536, "a multiple of 64 bytes, a third of the whole spectrum's lanes");

// The key's spectrum lanes, all kSpectrumLanes of them, as the pruning bound's head holds them.
void spectrumLanes(const ContentKey& key, float* lanes);

void makeContentKey(const TrackRecord& record, ContentKey& key);

// Same score as compareContent(first, second) of the records up to rounding (within 1e-5): the
// spectrum's correlation is one pass over the records' values in double precision.
float compareContent(const ContentKey& first, const ContentKey& second);

// A cheap upper bound of compareContent(first, second), never below it: the level and section terms
// exactly, the spectrum term bounded from its first kBoundPrefix lanes by Cauchy-Schwarz
// (|u.v| <= |u_head.v_head| + |u_tail| |v_tail|). About a quarter of the cost of the score; a pair whose
// bound is below the threshold cannot be reported.
float contentUpperBound(const ContentKey& first, const ContentKey& second);

} // namespace tonemirror::analysis
