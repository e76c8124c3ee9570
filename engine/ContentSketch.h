#pragma once

#include "analysis/ContentComparison.h"

#include <cstddef>
#include <cstdint>

namespace tonemirror::engine {

// A few hundred bytes per track from which the comparison loop bounds the content score of a pair
// without touching the full fingerprints. Each mean-free, unit-length array of the content key is
// split into its projection on the first cosine (DCT-II) basis vectors and the length of what is left:
// for two such arrays u = P a + r and v = P b + s, |u.v| <= |a.b| + |r| |s| (Cauchy-Schwarz on the
// rest). Fingerprints are smooth curves, so most of their energy lies in the first terms and the bound
// is tight enough to drop nearly every pair of unrelated tracks.
struct alignas(64) ContentSketch {
    static constexpr std::size_t kSpectrumTerms = 32;
    static constexpr std::size_t kLevelTerms = 16;
    static constexpr std::size_t kSectionLanes = 12;

    float spectrum[kSpectrumTerms];
    float level[kLevelTerms];
    float sections[kSectionLanes]; // the ten values of the key, exactly; lanes 10 and 11 are zero
    float spectrumRest;
    float levelRest;
    std::uint32_t constantMask; // as in the content key
    float reserved;
};
static_assert(sizeof(ContentSketch) == 256);

void makeContentSketch(const analysis::ContentKey& key, ContentSketch& sketch);

// Never below compareContent of the two records the sketches were made from (nor below the score
// of their content keys).
float contentSketchBound(const ContentSketch& a, const ContentSketch& b);

} // namespace tonemirror::engine
