#pragma once

// Fingerprints of unrelated songs for tests and benchmarks of the content bounds.

#include "analysis/TrackRecord.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <random>

namespace tonemirror::analysis {

// A song's fingerprint, as unlike other songs' as real ones are: a falling envelope with the harmonics of a
// few instruments, a level course in steps, section correlations near 1.
inline TrackRecord songRecord(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    TrackRecord r;
    const float knee = 4.0f + 60.0f * u(rng);
    const float slope = 0.8f + 1.2f * u(rng);
    const float f0 = 4.0f + 76.0f * u(rng);
    const float f1 = 4.0f + 76.0f * u(rng);
    std::array<float, kComparedSpectrumBins> spectrum{};
    for (std::size_t k = 0; k < kSpectrumSize; ++k) {
        const float x = static_cast<float>(k <= 1024 ? k : 2048 - k);
        const float envelope = 1.0f / std::pow(1.0f + x / knee, slope);
        const float h0 = std::fmod(x, f0) - f0 / 2;
        const float h1 = std::fmod(x, f1) - f1 / 2;
        // A draw for every bin of an analysed spectrum, so that a seed keeps giving the same songs.
        const float value =
            envelope * (0.2f * u(rng) + std::exp(-h0 * h0 / 4) + 0.5f * std::exp(-h1 * h1 / 4));
        if (k < spectrum.size()) {
            spectrum[k] = value;
        }
    }
    r.meanSpectrum.assign(spectrum);
    float level = 0.2f;
    for (std::size_t i = 0; i < kLevelProfileSize; ++i) {
        level = i % 12 == 0 ? 0.05f + 0.25f * u(rng) : level;
        r.levelProfile[i] = level * (0.9f + 0.2f * u(rng));
    }
    for (float& c : r.sectionCorrelations) {
        c = 0.6f + 0.38f * u(rng);
    }
    return r;
}

} // namespace tonemirror::analysis
