#include "audio/SampleConverter.h"

#include <bit>
#include <cstring>

namespace tonemirror::audio {

static_assert(std::endian::native == std::endian::little, "PCM blocks are read in place as little-endian");

namespace {

inline float frameValue(const std::int16_t* frames, std::size_t index, std::uint32_t channels) {
    if (channels == 1) {
        return static_cast<float>(frames[index]) / 32768.0f;
    }
    const float left = static_cast<float>(frames[2 * index]) / 32768.0f;
    const float right = static_cast<float>(frames[2 * index + 1]) / 32768.0f;
    return (left + right) * 0.5f;
}

} // namespace

HResult SampleConverter::prepare(const StreamFormat& format) {
    reset();
    const std::uint32_t rate = format.sampleRate;
    if (rate < kMinRate) {
        return E_INVALIDARG;
    }
    framesConsumed_ = 0;
    samplesProduced_ = 0;
    ratio_ = static_cast<float>(rate) / static_cast<float>(kTargetRate);
    step_ = rate / kTargetRate;
    carry_ = false;
    carried_ = 0.0f;
    if (format.formatTag != 1 || (format.channels != 1 && format.channels != 2)) {
        return E_NOTIMPL;
    }
    const bool stereo = format.channels == 2;
    if (step_ >= 1 && rate % kTargetRate == 0) {
        kind_ = stereo ? Kind::DecimateStereo : Kind::DecimateMono;
    } else {
        kind_ = stereo ? Kind::InterpolateStereo : Kind::InterpolateMono;
    }
    return S_OK;
}

void SampleConverter::reset() {
    kind_ = Kind::None;
    framesConsumed_ = 0;
    samplesProduced_ = 0;
    carry_ = false;
    carried_ = 0.0f;
}

HResult SampleConverter::convert(const void* data, std::uint32_t bytes, std::vector<float>& out) {
    out.clear();
    if (kind_ == Kind::None) {
        return E_FAIL;
    }
    const std::uint32_t channels =
        (kind_ == Kind::DecimateStereo || kind_ == Kind::InterpolateStereo) ? 2 : 1;
    const std::uint32_t n = bytes / (2 * channels);
    if (n > 0 && data == nullptr) {
        return E_INVALIDARG;
    }
    // Decoders hand out byte blocks without alignment guarantees; copy when the block is misaligned.
    std::vector<std::int16_t> aligned;
    const auto* frames = static_cast<const std::int16_t*>(data);
    if (n > 0 && reinterpret_cast<std::uintptr_t>(data) % alignof(std::int16_t) != 0) {
        aligned.resize(static_cast<std::size_t>(n) * channels);
        std::memcpy(aligned.data(), data, aligned.size() * sizeof(std::int16_t));
        frames = aligned.data();
    }
    if (kind_ == Kind::DecimateMono || kind_ == Kind::DecimateStereo) {
        decimate(frames, n, channels, out);
    } else {
        interpolate(frames, n, channels, out);
    }
    return S_OK;
}

void SampleConverter::decimate(const std::int16_t* frames, std::uint32_t n, std::uint32_t channels,
                               std::vector<float>& out) {
    const std::uint32_t k = step_;
    out.reserve(static_cast<std::size_t>(static_cast<float>(n) / ratio_) + 10);
    const auto phase = static_cast<std::uint32_t>(framesConsumed_ % k);
    std::uint32_t i = phase == 0 ? 0 : k - phase;
    for (; i < n; i += k) {
        out.push_back(frameValue(frames, i, channels));
    }
    framesConsumed_ += n;
}

double SampleConverter::inputPosition(std::uint64_t sample) const {
    if (sample < kFloatPositions) {
        return static_cast<double>(static_cast<float>(sample) * ratio_);
    }
    return static_cast<double>(sample) * static_cast<double>(ratio_);
}

void SampleConverter::interpolate(const std::int16_t* frames, std::uint32_t n, std::uint32_t channels,
                                  std::vector<float>& out) {
    if (n == 0) {
        return;
    }
    out.reserve(static_cast<std::size_t>(static_cast<float>(n) / ratio_) + 10);
    const auto position = [this](std::uint64_t sample) { return inputPosition(sample); };

    // Outputs lying between the previous chunk's last frame and this chunk's first.
    const float first = frameValue(frames, 0, channels);
    while (carry_) {
        const double p = position(samplesProduced_);
        const auto b = static_cast<std::uint64_t>(p);
        const auto f = static_cast<float>(p - static_cast<double>(b));
        out.push_back(first * f + (1.0f - f) * carried_);
        ++samplesProduced_;
        if (static_cast<std::uint64_t>(position(samplesProduced_)) != b) {
            carry_ = false;
        }
    }

    std::int64_t d = 0;
    for (;;) {
        const double p = position(samplesProduced_);
        const auto b = static_cast<std::uint64_t>(p);
        d = static_cast<std::int64_t>(b) - static_cast<std::int64_t>(framesConsumed_);
        if (d < 0 || d + 1 >= static_cast<std::int64_t>(n)) {
            break;
        }
        const auto f = static_cast<float>(p - static_cast<double>(b));
        const auto di = static_cast<std::size_t>(d);
        out.push_back(frameValue(frames, di, channels) * (1.0f - f) +
                      frameValue(frames, di + 1, channels) * f);
        ++samplesProduced_;
    }
    if (d >= 0 && d < static_cast<std::int64_t>(n)) {
        carried_ = frameValue(frames, static_cast<std::size_t>(d), channels);
        carry_ = true;
    }
    framesConsumed_ += n;
}

} // namespace tonemirror::audio
