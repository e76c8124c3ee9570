#pragma once

#include "audio/AudioSource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tonemirror::analysis {

// Where the music's spectrum ends at the file's own rate, measured on a few transform blocks of the
// samples as decoded, before the scan resamples them to 22050 Hz. A lossy encoder's low-pass leaves
// a cliff there (near 16 kHz at 128 kbit/s) that the fingerprint's band never reaches; a lossless
// recording ends at its rate's top or falls off gently.
class HighBandProbe : public audio::NativeTap {
public:
    static constexpr std::size_t kBlock = 4096;   // frames per transform
    static constexpr std::size_t kStride = 4;     // one block in every kStride is transformed
    static constexpr std::size_t kMaxBlocks = 32; // enough for a steady mean; the rest is skipped
    static constexpr std::size_t kMinBlocks = 4;  // fewer (a short or silent file): no answer
    // Cut-offs are looked for from here up; lower ones the fingerprint's own spectrum shows.
    static constexpr double kLowestCutoffHz = 9000.0;

    // Forgets the previous file.
    void start();
    void frames(const void* data, std::uint32_t frameCount, const StreamFormat& format) override;

    // The cut-off in Hz, 0 when the spectrum reaches the top of its band or ends gently; nullopt when
    // too little sound was seen to tell.
    std::optional<std::uint32_t> cutoffHz() const;

private:
    void transformBlock();

    std::uint32_t rate_ = 0;
    bool mixedRates_ = false;
    std::size_t filled_ = 0;
    std::size_t blocksSeen_ = 0;
    std::size_t blocksUsed_ = 0;
    std::vector<float> block_;
    std::vector<float> re_;
    std::vector<float> im_;
    std::vector<double> power_; // summed over the blocks used, bins 0..kBlock/2
};

} // namespace tonemirror::analysis
