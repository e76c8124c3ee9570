#include "analysis/ContentSketch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace tonemirror::analysis {

namespace {

// Covers the float rounding of the sketches and of the dot products below; far under any threshold step.
constexpr float kSlack = 2e-4f;

// Orthonormal DCT-II basis vectors 1..terms of length n (vector 0, the constant, is orthogonal to every
// mean-free array and left out).
std::vector<double> cosineBasis(std::size_t n, std::size_t terms) {
    std::vector<double> basis(terms * n);
    const double scale = std::sqrt(2.0 / static_cast<double>(n));
    for (std::size_t k = 0; k < terms; ++k) {
        for (std::size_t i = 0; i < n; ++i) {
            basis[k * n + i] = scale * std::cos(M_PI * (static_cast<double>(i) + 0.5) *
                                                static_cast<double>(k + 1) / static_cast<double>(n));
        }
    }
    return basis;
}

// Projects x (length n) on the basis; returns the length of the rest.
float project(const float* x, std::size_t n, const std::vector<double>& basis, std::size_t terms,
              float* out) {
    std::vector<double> rest(x, x + n);
    for (std::size_t k = 0; k < terms; ++k) {
        const double* c = &basis[k * n];
        double a = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            a += static_cast<double>(x[i]) * c[i];
        }
        out[k] = static_cast<float>(a);
        for (std::size_t i = 0; i < n; ++i) {
            rest[i] -= static_cast<double>(out[k]) * c[i];
        }
    }
    double norm = 0.0;
    for (double r : rest) {
        norm += r * r;
    }
    return static_cast<float>(std::sqrt(norm));
}

// Lengths of `chunks` consecutive pieces of x (length n); the last piece takes the remainder.
void chunkLengths(const float* x, std::size_t n, std::size_t chunks, float* out) {
    const std::size_t per = n / chunks;
    for (std::size_t c = 0; c < chunks; ++c) {
        const std::size_t end = c + 1 == chunks ? n : (c + 1) * per;
        double sum = 0.0;
        for (std::size_t i = c * per; i < end; ++i) {
            sum += static_cast<double>(x[i]) * x[i];
        }
        out[c] = static_cast<float>(std::sqrt(sum));
    }
}

// Eight independent partial sums, so the compiler can keep them in vector lanes (the order of a bound's
// additions does not matter; the slack covers the rounding).
template <std::size_t N>
float dot(const float (&a)[N], const float (&b)[N]) {
    static_assert(N % 4 == 0);
    constexpr std::size_t kLanes = N % 8 == 0 ? 8 : 4;
    float sum[kLanes] = {};
    for (std::size_t i = 0; i < N; i += kLanes) {
        for (std::size_t l = 0; l < kLanes; ++l) {
            sum[l] += a[i + l] * b[i + l];
        }
    }
    float total = 0.0f;
    for (float s : sum) {
        total += s;
    }
    return total;
}

} // namespace

void makeContentSketch(const ContentKey& key, ContentSketch& sketch) {
    static const std::vector<double> levelBasis = cosineBasis(kLevelProfileSize, ContentSketch::kLevelTerms);
    sketch = ContentSketch{};
    std::array<float, ContentKey::kSpectrumLanes> spectrum;
    spectrumLanes(key, spectrum.data());
    std::copy_n(spectrum.begin(), ContentSketch::kSpectrumHead, sketch.spectrumHead);
    std::array<float, ContentKey::kLevelLanes> level;
    levelLanes(key, level.data());
    sketch.levelRest =
        project(level.data(), kLevelProfileSize, levelBasis, ContentSketch::kLevelTerms, sketch.level);
    chunkLengths(spectrum.data() + ContentSketch::kSpectrumHead,
                 kComparedSpectrumBins - ContentSketch::kSpectrumHead, ContentSketch::kSpectrumChunks,
                 sketch.spectrumChunks);
    chunkLengths(level.data(), kLevelProfileSize, ContentSketch::kLevelChunks, sketch.levelChunks);
    std::copy(key.sections, key.sections + kSectionCount, sketch.sections);
    sketch.constantMask = key.constantMask;
}

float contentSketchBound(const ContentSketch& a, const ContentSketch& b) {
    const std::uint32_t mask = a.constantMask | b.constantMask;
    // An array without variance correlates as 1 with anything.
    const auto coefficient = [mask](float bound, std::uint32_t flag) {
        return (mask & flag) != 0 ? 1.0f : std::min(1.0f, bound + kSlack);
    };
    const float cs =
        coefficient(std::fabs(dot(a.spectrumHead, b.spectrumHead)) + dot(a.spectrumChunks, b.spectrumChunks),
                    kSpectrumConstant);
    const float cl = coefficient(std::min(std::fabs(dot(a.level, b.level)) + a.levelRest * b.levelRest,
                                          dot(a.levelChunks, b.levelChunks)),
                                 kLevelConstant);
    const float cc = coefficient(std::fabs(dot(a.sections, b.sections)), kSectionsConstant);
    return std::sqrt(0.6f * cs * cs + 0.2f * cl * cl + 0.2f * cc * cc) + kSlack;
}

namespace {

template <std::size_t N>
void widen(float (&lo)[N], float (&hi)[N], const float (&lo2)[N], const float (&hi2)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        lo[i] = std::min(lo[i], lo2[i]);
        hi[i] = std::max(hi[i], hi2[i]);
    }
}

// Largest |q.v| for v in [lo, hi]: each side's maximum takes, per lane, the end that serves it.
template <std::size_t N>
float boxAbsDot(const float (&q)[N], const float (&lo)[N], const float (&hi)[N]) {
    float up = 0.0f;
    float down = 0.0f;
    for (std::size_t i = 0; i < N; ++i) {
        const float a = q[i] * lo[i];
        const float b = q[i] * hi[i];
        up += std::max(a, b);
        down -= std::min(a, b);
    }
    return std::max(up, down);
}

// Largest q.v for v in [lo, hi] when q is not negative (chunk lengths).
template <std::size_t N>
float boxUpperDot(const float (&q)[N], const float (&hi)[N]) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < N; ++i) {
        sum += q[i] * hi[i];
    }
    return sum;
}

// The box's sums run in another order than the sketch bound's; this covers the difference in rounding.
constexpr float kBoxSlack = 1e-4f;

} // namespace

void ContentSketchBox::add(const ContentSketch& s) {
    ContentSketchBox one;
    one.lo = s;
    one.hi = s;
    one.empty = false;
    add(one);
}

void ContentSketchBox::add(const ContentSketchBox& other) {
    if (other.empty) {
        return;
    }
    if (empty) {
        *this = other;
        return;
    }
    widen(lo.spectrumHead, hi.spectrumHead, other.lo.spectrumHead, other.hi.spectrumHead);
    widen(lo.spectrumChunks, hi.spectrumChunks, other.lo.spectrumChunks, other.hi.spectrumChunks);
    widen(lo.level, hi.level, other.lo.level, other.hi.level);
    widen(lo.levelChunks, hi.levelChunks, other.lo.levelChunks, other.hi.levelChunks);
    widen(lo.sections, hi.sections, other.lo.sections, other.hi.sections);
    lo.levelRest = std::min(lo.levelRest, other.lo.levelRest);
    hi.levelRest = std::max(hi.levelRest, other.hi.levelRest);
    hi.constantMask |= other.hi.constantMask;
}

float sketchValue(const ContentSketch& s, std::size_t i) {
    constexpr std::size_t kChunks = ContentSketch::kSpectrumHead;
    constexpr std::size_t kLevel = kChunks + ContentSketch::kSpectrumChunks;
    constexpr std::size_t kLevelChunks = kLevel + ContentSketch::kLevelTerms;
    constexpr std::size_t kSections = kLevelChunks + ContentSketch::kLevelChunks;
    constexpr std::size_t kRest = kSections + ContentSketch::kSectionLanes;
    static_assert(kRest + 1 == kSketchValues);
    if (i < kChunks) {
        return s.spectrumHead[i];
    }
    if (i < kLevel) {
        return s.spectrumChunks[i - kChunks];
    }
    if (i < kLevelChunks) {
        return s.level[i - kLevel];
    }
    if (i < kSections) {
        return s.levelChunks[i - kLevelChunks];
    }
    if (i < kRest) {
        return s.sections[i - kSections];
    }
    return s.levelRest;
}

float contentSketchBoxBound(const ContentSketch& q, const ContentSketchBox& box) {
    if (box.empty) {
        return 0.0f;
    }
    const std::uint32_t mask = q.constantMask | box.hi.constantMask;
    const auto coefficient = [mask](float bound, std::uint32_t flag) {
        return (mask & flag) != 0 ? 1.0f : std::min(1.0f, bound + kSlack + kBoxSlack);
    };
    const float cs = coefficient(boxAbsDot(q.spectrumHead, box.lo.spectrumHead, box.hi.spectrumHead) +
                                     boxUpperDot(q.spectrumChunks, box.hi.spectrumChunks),
                                 kSpectrumConstant);
    // The smaller of two bounds of each member is at most the smaller of their largest values.
    const float cl =
        coefficient(std::min(boxAbsDot(q.level, box.lo.level, box.hi.level) + q.levelRest * box.hi.levelRest,
                             boxUpperDot(q.levelChunks, box.hi.levelChunks)),
                    kLevelConstant);
    const float cc = coefficient(boxAbsDot(q.sections, box.lo.sections, box.hi.sections), kSectionsConstant);
    return std::sqrt(0.6f * cs * cs + 0.2f * cl * cl + 0.2f * cc * cc) + kSlack + kBoxSlack;
}

} // namespace tonemirror::analysis
