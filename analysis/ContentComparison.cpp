#include "analysis/ContentComparison.h"

#include "analysis/HalfDot.h"
#include "analysis/HalfFloat.h"
#include "analysis/SignalMath.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tonemirror::analysis {

namespace {

constexpr float kSpectrumWeight = 0.6f;
constexpr float kOtherWeight = 0.2f;

// The weighted sum is formed in double precision and rounded to float before the root.
float combine(float cs, float cl, float cc) {
    const double sum = static_cast<double>(kSpectrumWeight) * cs * cs +
                       static_cast<double>(kOtherWeight) * cl * cl +
                       static_cast<double>(kOtherWeight) * cc * cc;
    return std::min(1.0f, std::sqrt(static_cast<float>(sum)));
}

// The mean of the n values value(0..n) and the inverse length of the mean-free values. False for an
// array without variance; scale stays 0 then and for non-finite values (their lanes are all zero).
template <typename Value>
bool measure(Value value, std::size_t n, double& mean, double& scale) {
    mean = 0.0;
    scale = 0.0;
    bool constant = true;
    bool finite = true;
    for (std::size_t i = 0; i < n; ++i) {
        constant = constant && value(i) == value(0);
        finite = finite && std::isfinite(value(i));
    }
    if (constant) {
        return false;
    }
    if (!finite) {
        return true; // correlates as 0
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += value(i);
    }
    mean = sum / static_cast<double>(n);
    double squares = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = value(i) - mean;
        squares += d * d;
    }
    if (squares == 0.0) {
        mean = 0.0;
        return false;
    }
    scale = 1.0 / std::sqrt(squares);
    return true;
}

template <typename Value>
void fillLanes(Value value, std::size_t n, double mean, double scale, float* lanes, std::size_t laneCount) {
    std::fill(lanes, lanes + laneCount, 0.0f);
    if (scale == 0.0) {
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        lanes[i] = static_cast<float>((value(i) - mean) * scale);
    }
}

auto floatsOf(const float* values) {
    return [values](std::size_t i) { return values[i]; };
}

// Lanes are made only of finite halves (a spectrum with others has scale 0).
auto finiteHalvesOf(const std::uint16_t* halves) {
    return [halves](std::size_t i) { return fromHalf(halves[i]); };
}

// Unit-length, mean-free copy of values[0..n) into lanes (zero beyond n). Returns false for an array
// without variance.
bool normalise(const float* values, std::size_t n, float* lanes, std::size_t laneCount) {
    double mean = 0.0;
    double scale = 0.0;
    const bool varies = measure(floatsOf(values), n, mean, scale);
    fillLanes(floatsOf(values), n, mean, scale, lanes, laneCount);
    return varies;
}

// The dot product of the lanes [0, count) of two arrays from the records' values: the mean-free values
// formed and multiplied in float with eight independent partial sums, which the compiler maps to vector
// registers, and scaled in double. Subtracting the means first keeps the sums as exact as those of
// stored lanes (the products of raw values would cancel).
float centredDot(const ContentKey::Centred& a, const ContentKey::Centred& b, std::size_t count) {
    if (a.scale == 0.0 || b.scale == 0.0) {
        return 0.0f;
    }
    const float* __restrict x = a.values;
    const float* __restrict y = b.values;
    const auto mx = static_cast<float>(a.mean);
    const auto my = static_cast<float>(b.mean);
    float acc[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            acc[j] += (x[i + j] - mx) * (y[i + j] - my);
        }
    }
    float sum = ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
    for (; i < count; ++i) {
        sum += (x[i] - mx) * (y[i] - my);
    }
    return static_cast<float>(static_cast<double>(sum) * a.scale * b.scale);
}

float centredDot(const ContentKey::CentredHalves& a, const ContentKey::CentredHalves& b, std::size_t count) {
    if (a.scale == 0.0 || b.scale == 0.0) {
        return 0.0f;
    }
    const float sum =
        centredHalvesDot(a.values, b.values, static_cast<float>(a.mean), static_cast<float>(b.mean), count);
    return static_cast<float>(static_cast<double>(sum) * a.scale * b.scale);
}

float sectionsDot(const ContentKey& a, const ContentKey& b) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < kSectionCount; ++i) {
        sum += a.sections[i] * b.sections[i];
    }
    return sum;
}

float coefficient(float dot, std::uint32_t mask, std::uint32_t bit) {
    return (mask & bit) != 0 ? 1.0f : std::min(1.0f, std::fabs(dot));
}

// The key's view of an array; false for one without variance.
bool centre(const float* values, std::size_t n, ContentKey::Centred& out) {
    out.values = values;
    return measure(floatsOf(values), n, out.mean, out.scale);
}

bool centre(const HalfSpectrum& spectrum, ContentKey::CentredHalves& out) {
    out.values = spectrum.halves();
    // Without the power of two: a correlation does not depend on it, and the halves' range keeps the
    // squares and sums of loud and quiet spectra alike within a float's.
    const std::array<float, kComparedSpectrumBins> values = spectrum.unscaledValues();
    return measure(floatsOf(values.data()), values.size(), out.mean, out.scale);
}

} // namespace

float compareContent(const TrackRecord& first, const TrackRecord& second) {
    // The halves without their powers of two, as the key reads them.
    const std::array<float, kComparedSpectrumBins> a = first.meanSpectrum.unscaledValues();
    const std::array<float, kComparedSpectrumBins> b = second.meanSpectrum.unscaledValues();
    const float cs = std::fabs(correlation(a.data(), b.data(), kComparedSpectrumBins));
    const float cl =
        std::fabs(correlation(first.levelProfile.data(), second.levelProfile.data(), kLevelProfileSize));
    const float cc = std::fabs(
        correlation(first.sectionCorrelations.data(), second.sectionCorrelations.data(), kSectionCount));
    return combine(cs, cl, cc);
}

void spectrumLanes(const ContentKey& key, float* lanes) {
    fillLanes(finiteHalvesOf(key.spectrum.values), kComparedSpectrumBins, key.spectrum.mean,
              key.spectrum.scale, lanes, ContentKey::kSpectrumLanes);
}

void levelLanes(const ContentKey& key, float* lanes) {
    fillLanes(floatsOf(key.level.values), kLevelProfileSize, key.level.mean, key.level.scale, lanes,
              ContentKey::kLevelLanes);
}

void makeContentKey(const TrackRecord& record, ContentKey& key) {
    key.constantMask = 0;
    if (!centre(record.meanSpectrum, key.spectrum)) {
        key.constantMask |= kSpectrumConstant;
    }
    if (!centre(record.levelProfile.data(), kLevelProfileSize, key.level)) {
        key.constantMask |= kLevelConstant;
    }
    if (!normalise(record.sectionCorrelations.data(), kSectionCount, key.sections, kSectionCount)) {
        key.constantMask |= kSectionsConstant;
    }
    std::array<float, ContentKey::kSpectrumLanes> lanes;
    spectrumLanes(key, lanes.data());
    double tail = 0.0;
    for (std::size_t i = ContentKey::kBoundPrefix; i < ContentKey::kSpectrumLanes; ++i) {
        tail += static_cast<double>(lanes[i]) * lanes[i];
    }
    // Rounded up a little so that the bound stays a bound despite float rounding in the dot products.
    key.spectrumTailNorm = static_cast<float>(std::sqrt(tail)) * 1.00001f + 1e-6f;
}

float compareContent(const ContentKey& first, const ContentKey& second) {
    const std::uint32_t mask = first.constantMask | second.constantMask;
    const float cs = coefficient(centredDot(first.spectrum, second.spectrum, kComparedSpectrumBins), mask,
                                 kSpectrumConstant);
    const float cl =
        coefficient(centredDot(first.level, second.level, kLevelProfileSize), mask, kLevelConstant);
    const float cc = coefficient(sectionsDot(first, second), mask, kSectionsConstant);
    return combine(cs, cl, cc);
}

float contentUpperBound(const ContentKey& first, const ContentKey& second) {
    const std::uint32_t mask = first.constantMask | second.constantMask;
    const float head = std::fabs(centredDot(first.spectrum, second.spectrum, ContentKey::kBoundPrefix));
    const float cs =
        coefficient(head + first.spectrumTailNorm * second.spectrumTailNorm, mask, kSpectrumConstant);
    const float cl =
        coefficient(centredDot(first.level, second.level, kLevelProfileSize), mask, kLevelConstant);
    const float cc = coefficient(sectionsDot(first, second), mask, kSectionsConstant);
    return combine(cs, cl, cc);
}

} // namespace tonemirror::analysis
