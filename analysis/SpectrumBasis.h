#pragma once

#include "analysis/ContentComparison.h"
#include "analysis/ContentProjection.h"

#include <span>
#include <vector>

namespace tonemirror::analysis {

// Orthonormal axes in the space of the content key's spectra (kComparedSpectrumBins values), along
// which a library's spectra keep most of their length: the principal axes of a sample of them, found
// by subspace iteration. The projection bound holds for any orthonormal axes, so a poor or degenerate
// sample only makes it looser. Immutable once made; safe on any thread.
class SpectrumBasis {
public:
    // Axes from the spectra of `sample` (constant and all-zero ones are passed over). With fewer
    // useful spectra than axes, the remaining axes are drawn at random.
    static SpectrumBasis learn(std::span<const ContentKey* const> sample);

    // The spectrum part of a key's projection: its coordinates and the length of the rest, rounded up.
    void project(const ContentKey& key, ContentProjection& out) const;

    // Axis a's value at bin i (for tests).
    double axis(std::size_t a, std::size_t i) const { return axes_[i * kProjectionAxes + a]; }

private:
    // Bin-major: the kProjectionAxes values of bin i from i * kProjectionAxes on, so that the loops
    // over the axes run over contiguous memory.
    std::vector<double> axes_;
};

} // namespace tonemirror::analysis
