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
// length, so a correlation is one dot product. An array without variance is marked instead (it
// correlates as 1 with anything) and one with non-finite values has all lanes zero (it correlates as
// 0), as in the direct formula.
// The spectrum and the level profile are not copied: their lanes are worked out from the record's own
// values, which the key points to (the record must outlive the key and keep its values).
// Bits of ContentKey::constantMask (and of the sketch's and projection's copies of it).
inline constexpr std::uint32_t kSpectrumConstant = 1u;
inline constexpr std::uint32_t kLevelConstant = 2u;
inline constexpr std::uint32_t kSectionsConstant = 4u;

struct alignas(64) ContentKey {
    // Lanes of the whole mean-free spectrum and level profile (the values, then zeros).
    static constexpr std::size_t kSpectrumLanes = 1032;
    static constexpr std::size_t kLevelLanes = 104;
    // Lanes of the spectrum that the pruning bound reads (contentUpperBound).
    static constexpr std::size_t kBoundPrefix = 256;

    // One of the record's arrays: lane i is (values[i] - mean) * scale, rounded to float. Scale 0:
    // every lane is zero (constant or non-finite values).
    struct Centred {
        const float* values;
        double mean;
        double scale;
    };

    // The spectrum the same way over the record's halves (HalfSpectrum::halves(), without their common
    // power of two, which no correlation depends on).
    struct CentredHalves {
        const std::uint16_t* values;
        double mean;
        double scale;
    };

    CentredHalves spectrum; // kComparedSpectrumBins values
    Centred level;          // kLevelProfileSize values
    float sections[kSectionCount];
    // kSpectrumConstant, kLevelConstant and kSectionsConstant for the arrays without variance.
    std::uint32_t constantMask;
    // Length of the spectrum lanes from kBoundPrefix on.
    float spectrumTailNorm;
};
static_assert(sizeof(ContentKey) == 128, "two cache lines");

// The key's spectrum lanes (kSpectrumLanes of them) and level lanes (kLevelLanes).
void spectrumLanes(const ContentKey& key, float* lanes);
void levelLanes(const ContentKey& key, float* lanes);

void makeContentKey(const TrackRecord& record, ContentKey& key);
// A key points at its record's values: one made from a temporary would outlive them.
void makeContentKey(TrackRecord&& record, ContentKey& key) = delete;

// Same score as compareContent(first, second) of the records up to rounding (within 1e-5): each
// correlation is one pass over the records' values.
float compareContent(const ContentKey& first, const ContentKey& second);

// A cheap upper bound of compareContent(first, second), never below it: the level and section terms
// exactly, the spectrum term bounded from its first kBoundPrefix lanes by Cauchy-Schwarz
// (|u.v| <= |u_head.v_head| + |u_tail| |v_tail|). About a quarter of the cost of the score; a pair whose
// bound is below the threshold cannot be reported.
float contentUpperBound(const ContentKey& first, const ContentKey& second);

} // namespace tonemirror::analysis
