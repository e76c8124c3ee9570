#pragma once

// A decoder that plays 22050 Hz mono signals held in memory, in chunks of varying odd sizes, so the
// analysis can be fed exact samples through a real AudioSource.

#include "audio/AudioSource.h"
#include "plugin-api/PluginObject.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace tonemirror::analysis::testing {

using Signal = std::vector<std::int16_t>;
using SignalMap = std::map<std::u16string, Signal>;

class FakeDecoder {
public:
    explicit FakeDecoder(std::shared_ptr<const SignalMap> signals) : signals_(std::move(signals)) {}

    HResult open(const char16_t* path) {
        close();
        const auto it = signals_->find(path);
        if (it == signals_->end()) {
            return E_FAIL;
        }
        current_ = &it->second;
        position_ = 0;
        chunk_ = 0;
        return S_OK;
    }
    HResult close() {
        current_ = nullptr;
        return S_OK;
    }
    HResult read(const void** data, std::uint32_t* bytes) {
        if (current_ == nullptr) {
            return E_FAIL;
        }
        if (position_ >= current_->size()) {
            return E_END_OF_STREAM;
        }
        static constexpr std::size_t kChunks[] = {997, 1, 4093, 2311, 17, 8191};
        const std::size_t want = kChunks[chunk_++ % std::size(kChunks)];
        const std::size_t take = std::min(want, current_->size() - position_);
        *data = current_->data() + position_;
        *bytes = static_cast<std::uint32_t>(take * sizeof(std::int16_t));
        position_ += take;
        return S_OK;
    }
    std::int32_t priority() { return 1; }
    HResult info(StreamInfo* out) {
        *out = StreamInfo{};
        return current_ != nullptr ? S_OK : E_FAIL;
    }
    HResult format(StreamFormat* out) {
        if (current_ == nullptr) {
            return E_FAIL;
        }
        *out = StreamFormat{1, 1, 22050};
        return S_OK;
    }

private:
    std::shared_ptr<const SignalMap> signals_;
    const Signal* current_ = nullptr;
    std::size_t position_ = 0;
    std::size_t chunk_ = 0;
};

inline std::unique_ptr<audio::AudioSource> makeSource(std::shared_ptr<const SignalMap> signals) {
    void* object = nullptr;
    plugin::createObject<IDecoder, FakeDecoder>(&object, std::move(signals));
    std::vector<audio::AudioSource::Decoder> decoders;
    decoders.push_back({static_cast<IDecoder*>(object), "fake"});
    return std::make_unique<audio::AudioSource>(std::move(decoders));
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

} // namespace tonemirror::analysis::testing
