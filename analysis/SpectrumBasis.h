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
    static constexpr std::size_t kMostAxes = 256;

    // `axes` axes (from kProjectionAxes to kMostAxes) from the spectra of `sample` (constant and all-zero
    // ones are passed over). With fewer useful spectra than axes, the remaining axes are drawn at random.
    static SpectrumBasis learn(std::span<const ContentKey* const> sample, std::size_t axes = kProjectionAxes);

    std::size_t axes() const { return count_; }

    // The spectrum part of a key's projection: its coordinates on the first kFineAxes axes (0 on those
    // beyond axes()) and the lengths of the rests, rounded up.
    void project(const ContentKey& key, ContentProjection& out) const;
    // The key's coordinates on every axis (axes() of them); returns the squared length of its spectrum.
    double coordinates(const ContentKey& key, double* along) const;
    // The length of what the first `axes` coordinates leave out of a spectrum of squared length
    // `length`, rounded up.
    static float restAfter(const double* along, std::size_t axes, double length);

    // Axis a's value at bin i (for tests).
    double axis(std::size_t a, std::size_t i) const { return axes_[i * count_ + a]; }

private:
    // Bin-major: the count_ values of bin i from i * count_ on, so that the loops over the axes run
    // over contiguous memory.
    std::vector<double> axes_;
    std::size_t count_ = kProjectionAxes;
};

} // namespace tonemirror::analysis
