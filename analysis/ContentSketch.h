#pragma once

#include "analysis/ContentComparison.h"

#include <cstddef>
#include <cstdint>

namespace tonemirror::analysis {

// Under a kilobyte per track from which the comparison loop bounds the content score of a pair
// without touching the full fingerprints (4.5 KB each). For mean-free, unit-length arrays u and v:
// - spectrum: the first 128 values exactly, the rest as the lengths of 32 consecutive chunks:
//   |u.v| <= |u_head.v_head| + sum over chunks |u_c| |v_c| (Cauchy-Schwarz per chunk). Spectra keep
//   most of their energy in the low bins, and unrelated recordings put the rest in different places;
// - level profile: the smaller of two bounds, its projection a on the first cosine (DCT-II) basis
//   vectors with the length of the rest (|u.v| <= |a.b| + |r| |s|), and chunk lengths as above;
// - section correlations: all ten values.
struct alignas(64) ContentSketch {
    static constexpr std::size_t kSpectrumHead = 128;
    static constexpr std::size_t kSpectrumChunks = 32;
    static constexpr std::size_t kLevelTerms = 16;
    static constexpr std::size_t kLevelChunks = 16;
    static constexpr std::size_t kSectionLanes = 12;

    float spectrumHead[kSpectrumHead];
    float spectrumChunks[kSpectrumChunks];
    float level[kLevelTerms];
    float levelChunks[kLevelChunks];
    float sections[kSectionLanes]; // the ten values of the key, exactly; lanes 10 and 11 are zero
    float levelRest;
    std::uint32_t constantMask; // as in the content key
    float reserved[2];
};
static_assert(sizeof(ContentSketch) == 832);

void makeContentSketch(const ContentKey& key, ContentSketch& sketch);

// Never below compareContent of the two records the sketches were made from (nor below the score
// of their content keys).
float contentSketchBound(const ContentSketch& a, const ContentSketch& b);

// The componentwise range of a group of sketches (lo and hi; constantMask in hi is the OR of the
// members' masks), from which the bound of one sketch against every member is bounded at once.
struct ContentSketchBox {
    ContentSketch lo;
    ContentSketch hi;
    bool empty = true;

    void add(const ContentSketch& s);
    void add(const ContentSketchBox& other);
};

// Number of values of a sketch that a box ranges over (the floats before constantMask).
inline constexpr std::size_t kSketchValues = 205;
// Value `i` (0..kSketchValues) of a sketch in a fixed order: spectrum head, spectrum chunks, level
// terms, level chunks, sections, levelRest.
float sketchValue(const ContentSketch& s, std::size_t i);

// Never below contentSketchBound(q, s) for any sketch s inside the box: every dot product is taken at
// the corner of the box that maximises it. A group whose bound is below a threshold holds no pair
// that reaches it.
float contentSketchBoxBound(const ContentSketch& q, const ContentSketchBox& box);

} // namespace tonemirror::analysis
