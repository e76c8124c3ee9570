#pragma once

// Signals held in memory for the analysis tests: made-up music and noise at 22050 Hz mono, played by
// the TestDecoder in chunks of varying odd sizes so the analysis is fed exact samples through a real
// AudioSource.

#include "support/TestDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace tonemirror::fakes {

using Signal = std::vector<std::int16_t>;
using SignalMap = std::map<std::u16string, Signal>;

// Plays the signal stored under a path; refuses other paths.
inline TestLibrary signalLibrary(std::shared_ptr<const SignalMap> signals) {
    return [signals](const std::u16string& path) -> std::shared_ptr<TestStream> {
        const auto it = signals->find(path);
        if (it == signals->end()) {
            return nullptr;
        }
        auto stream = std::make_shared<TestStream>();
        stream->pcm = it->second;
        stream->chunkFrames = {997, 1, 4093, 2311, 17, 8191};
        return stream;
    };
}

inline std::unique_ptr<audio::AudioSource> makeSignalSource(std::shared_ptr<const SignalMap> signals) {
    return makeTestSource(signalLibrary(std::move(signals)));
}

inline std::int16_t toPcm(double v) {
    return static_cast<std::int16_t>(std::clamp(std::lround(v * 32767.0), -32768L, 32767L));
}

// White noise of the given amplitude.
inline Signal noise(std::size_t n, double amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Signal s(n);
    for (auto& v : s) {
        v = toPcm(amplitude * u(rng));
    }
    return s;
}

// Something with the structure of music: notes of random pitch, length and loudness, each with an
// attack and a decay, over a little noise.
inline Signal music(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> x(n, 0.0);
    std::size_t pos = 0;
    while (pos < n) {
        const auto length = static_cast<std::size_t>(22050 * (0.15 + 0.6 * u(rng)));
        const double freq = 110.0 * std::pow(2.0, 4.0 * u(rng));
        const double loud = 0.1 + 0.4 * u(rng);
        for (std::size_t i = 0; i < length && pos + i < n; ++i) {
            const double t = static_cast<double>(i) / 22050.0;
            const double env = std::min(1.0, t * 50.0) * std::exp(-3.0 * t);
            x[pos + i] += loud * env * (std::sin(2 * M_PI * freq * t) + 0.3 * std::sin(4 * M_PI * freq * t));
        }
        pos += length;
    }
    std::normal_distribution<double> g(0.0, 0.01);
    Signal s(n);
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = toPcm(0.7 * x[i] + g(rng));
    }
    return s;
}

// A BlockReader over floats given directly (values the AudioSource could never produce).
struct FloatStream {
    std::vector<float> data;
    std::size_t chunk = 1000;
    std::size_t position = 0;

    HResult operator()(const float** samples, std::uint32_t* count) {
        if (position >= data.size()) {
            return E_END_OF_STREAM;
        }
        const std::size_t take = std::min(chunk, data.size() - position);
        *samples = data.data() + position;
        *count = static_cast<std::uint32_t>(take);
        position += take;
        return S_OK;
    }
};

} // namespace tonemirror::fakes
