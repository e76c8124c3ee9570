#include "analysis/SpectrumBasis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace tonemirror::analysis {

namespace {

constexpr std::size_t kBins = kComparedSpectrumBins;
// Rounds of subspace iteration: the leading axes settle within a few; later rounds gain little.
constexpr int kRounds = 6;
// Spectra a basis is learned from at most: the axes of a thousand songs serve as well as more.
constexpr std::size_t kMostSpectra = 1024;
constexpr std::uint32_t kSpectrumConstant = 1u;

// The loops over the axes run twice as fast with AVX2 and FMA where the processor has them (a build
// of each, chosen at load time; GCC only, as the other kernels). Not under ThreadSanitizer, whose
// runtime is not ready when the loader runs the clones' resolver.
#if defined(__x86_64__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define TONEMIRROR_WIDE_LOOPS gnu::target_clones("arch=x86-64-v3", "default")
#else
#define TONEMIRROR_WIDE_LOOPS
#endif

// Axis-major while they are made orthonormal (t[a * kBins + i] is axis a's value at bin i), so that
// every sum runs over contiguous memory; bin-major elsewhere (see axes_).
// Eight sums side by side: one running sum waits for its previous addition at every step.
inline double axisDot(const std::vector<double>& t, std::size_t a, std::size_t b) {
    const double* x = &t[a * kBins];
    const double* y = &t[b * kBins];
    double sums[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= kBins; i += 8) {
        for (std::size_t k = 0; k < 8; ++k) {
            sums[k] += x[i + k] * y[i + k];
        }
    }
    double sum = ((sums[0] + sums[4]) + (sums[1] + sums[5])) + ((sums[2] + sums[6]) + (sums[3] + sums[7]));
    for (; i < kBins; ++i) {
        sum += x[i] * y[i];
    }
    return sum;
}

// Removes from axis a its parts along axes 0..a-1 (twice: one pass leaves rounding behind) and
// returns its remaining length.
[[TONEMIRROR_WIDE_LOOPS]] double orthogonalise(std::vector<double>& t, std::size_t a) {
    double* x = &t[a * kBins];
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t b = 0; b < a; ++b) {
            const double along = axisDot(t, a, b);
            const double* y = &t[b * kBins];
            for (std::size_t i = 0; i < kBins; ++i) {
                x[i] -= along * y[i];
            }
        }
    }
    return std::sqrt(axisDot(t, a, a));
}

void transpose(const std::vector<double>& from, std::size_t rows, std::size_t columns,
               std::vector<double>& to) {
    to.resize(from.size());
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns; ++c) {
            to[c * rows + r] = from[r * columns + c];
        }
    }
}

// Makes the columns of the bin-major m orthonormal. A column that lies (nearly) in the span of the
// earlier ones, as with fewer distinct spectra than axes, is drawn anew at random: the bound needs
// every axis of unit length and orthogonal to the others.
void orthonormalise(std::vector<double>& m, std::size_t axes, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    std::vector<double> t;
    transpose(m, kBins, axes, t);
    for (std::size_t a = 0; a < axes; ++a) {
        double* x = &t[a * kBins];
        double before = std::sqrt(axisDot(t, a, a));
        double length = orthogonalise(t, a);
        while (!(length > 1e-6 * before) || !std::isfinite(length)) {
            for (std::size_t i = 0; i < kBins; ++i) {
                x[i] = normal(rng);
            }
            before = std::sqrt(axisDot(t, a, a));
            length = orthogonalise(t, a);
        }
        for (std::size_t i = 0; i < kBins; ++i) {
            x[i] /= length;
        }
    }
    transpose(t, axes, kBins, m);
}

// The key's spectrum lanes (it keeps none of its own).
using Lanes = std::array<float, ContentKey::kSpectrumLanes>;

bool usable(const ContentKey& key) {
    Lanes lanes;
    spectrumLanes(key, lanes.data());
    return (key.constantMask & kSpectrumConstant) == 0 &&
           std::any_of(lanes.begin(), lanes.begin() + kBins, [](float v) { return v != 0.0f; });
}

// One round: axes <- sample^T (sample axes), the axes weighted by how much of the sample lies along them.
// In single precision, which runs twice as many lanes an instruction: the round only points the axes
// the right way, and orthonormalise makes them exact again in double.
[[TONEMIRROR_WIDE_LOOPS]] void iterate(std::span<const ContentKey* const> sample, std::vector<double>& m,
                                       std::size_t axes) {
    const std::vector<float> from(m.begin(), m.end());
    std::vector<float> next(m.size(), 0.0f);
    std::vector<float> along(axes);
    Lanes lanes;
    for (const ContentKey* key : sample) {
        spectrumLanes(*key, lanes.data());
        std::fill(along.begin(), along.end(), 0.0f);
        for (std::size_t i = 0; i < kBins; ++i) {
            const float x = lanes[i];
            const float* row = &from[i * axes];
            for (std::size_t a = 0; a < axes; ++a) {
                along[a] += x * row[a];
            }
        }
        for (std::size_t i = 0; i < kBins; ++i) {
            const float x = lanes[i];
            float* row = &next[i * axes];
            for (std::size_t a = 0; a < axes; ++a) {
                row[a] += x * along[a];
            }
        }
    }
    std::copy(next.begin(), next.end(), m.begin());
}

} // namespace

SpectrumBasis SpectrumBasis::learn(std::span<const ContentKey* const> sample, std::size_t axes) {
    // Every k-th, so that a large sample costs no more than kMostSpectra.
    std::vector<const ContentKey*> useful;
    const std::size_t step = (sample.size() + kMostSpectra - 1) / kMostSpectra;
    for (std::size_t i = 0; i < sample.size(); i += std::max<std::size_t>(step, 1)) {
        if (usable(*sample[i])) {
            useful.push_back(sample[i]);
        }
    }
    std::mt19937_64 rng(20261208);
    std::normal_distribution<double> normal;
    SpectrumBasis basis;
    basis.count_ = std::clamp<std::size_t>(axes, kProjectionAxes, kMostAxes);
    basis.axes_.resize(kBins * basis.count_);
    for (double& v : basis.axes_) {
        v = normal(rng);
    }
    orthonormalise(basis.axes_, basis.count_, rng);
    for (int round = 0; round < kRounds && !useful.empty(); ++round) {
        iterate(useful, basis.axes_, basis.count_);
        orthonormalise(basis.axes_, basis.count_, rng);
    }
    return basis;
}

namespace {

// The length of the rest from the whole length and the part inside, worked out in double so that a
// rest near zero is not lost to cancellation beyond about 1e-7; rounded up past that and past the
// float's own rounding.
float restLength(double length, double inside) {
    const double rest = std::sqrt(std::max(0.0, length - inside));
    return static_cast<float>(rest) * (1.0f + 1e-6f) + 1e-6f;
}

} // namespace

[[TONEMIRROR_WIDE_LOOPS]] double SpectrumBasis::coordinates(const ContentKey& key, double* along) const {
    Lanes lanes;
    spectrumLanes(key, lanes.data());
    std::fill(along, along + count_, 0.0);
    double length = 0.0;
    for (std::size_t i = 0; i < kBins; ++i) {
        const double x = lanes[i];
        const double* row = &axes_[i * count_];
        length += x * x;
        for (std::size_t a = 0; a < count_; ++a) {
            along[a] += x * row[a];
        }
    }
    return length;
}

float SpectrumBasis::restAfter(const double* along, std::size_t axes, double length) {
    double inside = 0.0;
    for (std::size_t a = 0; a < axes; ++a) {
        inside += along[a] * along[a];
    }
    return restLength(length, inside);
}

void SpectrumBasis::project(const ContentKey& key, ContentProjection& out) const {
    double along[kMostAxes];
    const double length = coordinates(key, along);
    const std::size_t kept = std::min(count_, kFineAxes);
    double inside = 0.0;
    for (std::size_t a = 0; a < kFineAxes; ++a) {
        out.spectrum[a] = a < kept ? static_cast<float>(along[a]) : 0.0f;
        inside += a < kept ? along[a] * along[a] : 0.0;
        if (a + 1 == kFirstStageAxes) {
            out.spectrumRestFirst = restLength(length, inside);
        } else if (a + 1 == kProjectionAxes) {
            out.spectrumRest = restLength(length, inside);
        }
    }
    out.spectrumRestFine = restLength(length, inside);
}

} // namespace tonemirror::analysis
