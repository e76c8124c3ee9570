#pragma once

// Fingerprints for tests and benchmarks of content comparison.

#include "analysis/TrackRecord.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <random>

namespace tonemirror::analysis {

// Records shaped like real fingerprints: a decaying, tilted spectrum with peaks, a level profile
// around 0.2 and section correlations near 1.
inline TrackRecord realShapedRecord(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    TrackRecord r;
    const float slope = 0.5f + u(rng);
    // A draw for every bin of an analysed spectrum, the ones above the compared bins included, so that
    // a seed keeps giving the same records.
    std::array<float, kComparedSpectrumBins> spectrum{};
    for (std::size_t k = 0; k < kSpectrumSize; ++k) {
        const std::size_t bin = k <= 1024 ? k : 2048 - k;
        const float base = 40.0f / std::pow(1.0f + static_cast<float>(bin) * 0.05f, slope);
        const float value = static_cast<float>(bin + 1) / 2048.0f * base * (0.5f + u(rng));
        if (k < spectrum.size()) {
            spectrum[k] = value;
        }
    }
    r.meanSpectrum.assign(spectrum);
    for (auto& v : r.levelProfile) {
        v = 0.15f + 0.1f * u(rng);
    }
    for (auto& v : r.sectionCorrelations) {
        v = 0.9f + 0.1f * u(rng);
    }
    return r;
}

} // namespace tonemirror::analysis
