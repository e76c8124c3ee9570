#include "analysis/ContentComparison.h"

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

// The mean of values[0..n) and the inverse length of the mean-free values. False for an array without
// variance; scale stays 0 then and for non-finite values (their lanes are all zero).
bool measure(const float* values, std::size_t n, double& mean, double& scale) {
    mean = 0.0;
    scale = 0.0;
    if (std::all_of(values, values + n, [&](float v) { return v == values[0]; })) {
        return false;
    }
    if (!std::all_of(values, values + n, [](float v) { return std::isfinite(v); })) {
        return true; // correlates as 0
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += values[i];
    }
    mean = sum / static_cast<double>(n);
    double squares = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = values[i] - mean;
        squares += d * d;
    }
    if (squares == 0.0) {
        mean = 0.0;
        return false;
    }
    scale = 1.0 / std::sqrt(squares);
    return true;
}

void fillLanes(const float* values, std::size_t n, double mean, double scale, float* lanes,
               std::size_t laneCount) {
    std::fill(lanes, lanes + laneCount, 0.0f);
    if (scale == 0.0) {
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        lanes[i] = static_cast<float>((values[i] - mean) * scale);
    }
}

// Unit-length, mean-free copy of values[0..n) into lanes (zero beyond n). Returns false for an array
// without variance.
bool normalise(const float* values, std::size_t n, float* lanes, std::size_t laneCount) {
    double mean = 0.0;
    double scale = 0.0;
    const bool varies = measure(values, n, mean, scale);
    fillLanes(values, n, mean, scale, lanes, laneCount);
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
    return measure(values, n, out.mean, out.scale);
}

} // namespace

float compareContent(const TrackRecord& first, const TrackRecord& second) {
    const float cs =
        std::fabs(correlation(first.meanSpectrum.data(), second.meanSpectrum.data(), kComparedSpectrumBins));
    const float cl =
        std::fabs(correlation(first.levelProfile.data(), second.levelProfile.data(), kLevelProfileSize));
    const float cc = std::fabs(
        correlation(first.sectionCorrelations.data(), second.sectionCorrelations.data(), kSectionCount));
    return combine(cs, cl, cc);
}

void spectrumLanes(const ContentKey& key, float* lanes) {
    fillLanes(key.spectrum.values, kComparedSpectrumBins, key.spectrum.mean, key.spectrum.scale, lanes,
              ContentKey::kSpectrumLanes);
}

void levelLanes(const ContentKey& key, float* lanes) {
    fillLanes(key.level.values, kLevelProfileSize, key.level.mean, key.level.scale, lanes,
              ContentKey::kLevelLanes);
}

void makeContentKey(const TrackRecord& record, ContentKey& key) {
    key.constantMask = 0;
    if (!centre(record.meanSpectrum.data(), kComparedSpectrumBins, key.spectrum)) {
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
