#pragma once

#include "plugin-api/PluginApi.h"

#include <cstdint>
#include <vector>

namespace tonemirror::audio {

// Turns interleaved 16-bit PCM chunks into mono float samples at 22050 Hz. The output does not depend
// on how the stream is cut into chunks: the converters carry their position across calls.
class SampleConverter {
public:
    static constexpr std::uint32_t kTargetRate = 22050;

    enum class Kind { None, DecimateMono, DecimateStereo, InterpolateMono, InterpolateStereo };

    // Rates below this are no audio anyone recorded, and would multiply into absurd outputs
    // (1 Hz becomes 22050 samples for every frame).
    static constexpr std::uint32_t kMinRate = 1000;

    // Resets the state and picks the converter for the format. E_INVALIDARG for a rate under kMinRate,
    // E_NOTIMPL for anything but integer PCM with one or two channels (the converter is then None).
    HResult prepare(const StreamFormat& format);
    // Back to the failing converter.
    void reset();

    // Converts the whole frames of one chunk, replacing the contents of out. E_FAIL when unprepared.
    HResult convert(const void* data, std::uint32_t bytes, std::vector<float>& out);

    Kind kind() const { return kind_; }

private:
    void decimate(const std::int16_t* frames, std::uint32_t n, std::uint32_t channels,
                  std::vector<float>& out);
    // Input position of output sample `sample`: sample × ratio in 32-bit floats over the first
    // kFloatPositions samples (every analysis excerpt lies there), in double precision beyond, where
    // a float no longer holds a position to a fraction of a frame.
    double inputPosition(std::uint64_t sample) const;
    static constexpr std::uint64_t kFloatPositions = 1u << 22;
    void interpolate(const std::int16_t* frames, std::uint32_t n, std::uint32_t channels,
                     std::vector<float>& out);

    Kind kind_ = Kind::None;
    // 64-bit: a long file passes 2^32 samples (54 hours at 22050 Hz).
    std::uint64_t framesConsumed_ = 0;
    std::uint64_t samplesProduced_ = 0;
    float ratio_ = 0.0f;
    std::uint32_t step_ = 0;
    bool carry_ = false;
    float carried_ = 0.0f;
};

} // namespace tonemirror::audio
