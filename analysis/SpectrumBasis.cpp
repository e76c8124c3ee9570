#include "analysis/SpectrumBasis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace tonemirror::analysis {

namespace {

constexpr std::size_t kBins = kComparedSpectrumBins;
constexpr std::size_t kAxes = kProjectionAxes;
// Rounds of subspace iteration: the leading axes settle within a few; later rounds gain little.
constexpr int kRounds = 6;
// Spectra a basis is learned from at most: the axes of a thousand songs serve as well as more.
constexpr std::size_t kMostSpectra = 1024;
constexpr std::uint32_t kSpectrumConstant = 1u;

double columnDot(const std::vector<double>& m, std::size_t a, std::size_t b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < kBins; ++i) {
        sum += m[i * kAxes + a] * m[i * kAxes + b];
    }
    return sum;
}

// Removes from column a its parts along columns 0..a-1 (twice: one pass leaves rounding behind) and
// returns its remaining length.
double orthogonalise(std::vector<double>& m, std::size_t a) {
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t b = 0; b < a; ++b) {
            const double along = columnDot(m, a, b);
            for (std::size_t i = 0; i < kBins; ++i) {
                m[i * kAxes + a] -= along * m[i * kAxes + b];
            }
        }
    }
    return std::sqrt(columnDot(m, a, a));
}

// Makes the columns orthonormal. A column that lies (nearly) in the span of the earlier ones, as
// with fewer distinct spectra than axes, is drawn anew at random: the bound needs every axis of
// unit length and orthogonal to the others.
void orthonormalise(std::vector<double>& m, std::mt19937_64& rng) {
    std::normal_distribution<double> normal;
    for (std::size_t a = 0; a < kAxes; ++a) {
        double before = std::sqrt(columnDot(m, a, a));
        double length = orthogonalise(m, a);
        while (!(length > 1e-6 * before) || !std::isfinite(length)) {
            for (std::size_t i = 0; i < kBins; ++i) {
                m[i * kAxes + a] = normal(rng);
            }
            before = std::sqrt(columnDot(m, a, a));
            length = orthogonalise(m, a);
        }
        for (std::size_t i = 0; i < kBins; ++i) {
            m[i * kAxes + a] /= length;
        }
    }
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
void iterate(std::span<const ContentKey* const> sample, std::vector<double>& axes) {
    std::vector<double> next(axes.size(), 0.0);
    Lanes lanes;
    for (const ContentKey* key : sample) {
        spectrumLanes(*key, lanes.data());
        double along[kAxes] = {};
        for (std::size_t i = 0; i < kBins; ++i) {
            const double x = lanes[i];
            for (std::size_t a = 0; a < kAxes; ++a) {
                along[a] += x * axes[i * kAxes + a];
            }
        }
        for (std::size_t i = 0; i < kBins; ++i) {
            const double x = lanes[i];
            for (std::size_t a = 0; a < kAxes; ++a) {
                next[i * kAxes + a] += x * along[a];
            }
        }
    }
    axes.swap(next);
}

} // namespace

SpectrumBasis SpectrumBasis::learn(std::span<const ContentKey* const> sample) {
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
    basis.axes_.resize(kBins * kAxes);
    for (double& v : basis.axes_) {
        v = normal(rng);
    }
    orthonormalise(basis.axes_, rng);
    for (int round = 0; round < kRounds && !useful.empty(); ++round) {
        iterate(useful, basis.axes_);
        orthonormalise(basis.axes_, rng);
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

void SpectrumBasis::project(const ContentKey& key, ContentProjection& out) const {
    Lanes lanes;
    spectrumLanes(key, lanes.data());
    double along[kAxes] = {};
    double length = 0.0;
    for (std::size_t i = 0; i < kBins; ++i) {
        const double x = lanes[i];
        length += x * x;
        for (std::size_t a = 0; a < kAxes; ++a) {
            along[a] += x * axes_[i * kAxes + a];
        }
    }
    double inside = 0.0;
    for (std::size_t a = 0; a < kAxes; ++a) {
        out.spectrum[a] = static_cast<float>(along[a]);
        inside += along[a] * along[a];
        if (a + 1 == kFirstStageAxes) {
            out.spectrumRestFirst = restLength(length, inside);
        }
    }
    out.spectrumRest = restLength(length, inside);
}

} // namespace tonemirror::analysis
