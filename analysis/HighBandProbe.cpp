#include "analysis/HighBandProbe.h"

#include "analysis/SignalMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace tonemirror::analysis {

namespace {

// A block this quiet (about -70 dBFS) is silence between tracks, not music.
constexpr double kSilentRms = 3e-4;
// Bands of about this width are compared; the cliff is a drop of kCliffDb from the band just below
// the cut-off to everything above it, with music (within kContentBelowPeakDb of the loudest band)
// still below it. A cut-off this close to the rate's top is the rate's own anti-alias filter.
constexpr double kBandHz = 250.0;
constexpr double kCliffDb = 30.0;
constexpr double kContentBelowPeakDb = 50.0;
// A CD master's own anti-alias filter may end near 20.5 kHz: cut-offs that high are not told apart.
constexpr double kTopShare = 0.90;

double hann(std::size_t n) {
    return 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) /
                                static_cast<double>(HighBandProbe::kBlock - 1));
}

} // namespace

void HighBandProbe::start() {
    rate_ = 0;
    mixedRates_ = false;
    filled_ = 0;
    blocksSeen_ = 0;
    blocksUsed_ = 0;
    block_.assign(kBlock, 0.0f);
    power_.assign(kBlock / 2 + 1, 0.0);
}

void HighBandProbe::frames(const void* data, std::uint32_t frameCount, const StreamFormat& format) {
    if (block_.size() != kBlock || format.channels == 0 || format.channels > 2 || blocksUsed_ >= kMaxBlocks) {
        return;
    }
    if (rate_ != 0 && rate_ != format.sampleRate) {
        mixedRates_ = true; // a stream that changes its rate gives no single spectrum
        blocksUsed_ = kMaxBlocks;
        return;
    }
    rate_ = format.sampleRate;
    const auto* bytes = static_cast<const unsigned char*>(data);
    const std::size_t frameBytes = 2u * format.channels;
    for (std::uint32_t f = 0; f < frameCount && blocksUsed_ < kMaxBlocks; ++f) {
        float sum = 0.0f;
        for (std::uint16_t c = 0; c < format.channels; ++c) {
            std::int16_t sample = 0;
            std::memcpy(&sample, bytes + f * frameBytes + 2u * c, sizeof sample);
            sum += static_cast<float>(sample) / 32768.0f;
        }
        block_[filled_++] = sum / static_cast<float>(format.channels);
        if (filled_ == kBlock) {
            filled_ = 0;
            if (blocksSeen_++ % kStride == 0) {
                transformBlock();
            }
        }
    }
}

void HighBandProbe::transformBlock() {
    double energy = 0.0;
    for (const float v : block_) {
        energy += static_cast<double>(v) * v;
    }
    if (std::sqrt(energy / kBlock) < kSilentRms) {
        return;
    }
    re_.resize(kBlock);
    im_.assign(kBlock, 0.0f);
    for (std::size_t n = 0; n < kBlock; ++n) {
        re_[n] = static_cast<float>(block_[n] * hann(n));
    }
    fft(re_.data(), im_.data(), kBlock);
    for (std::size_t k = 0; k < power_.size(); ++k) {
        power_[k] += static_cast<double>(re_[k]) * re_[k] + static_cast<double>(im_[k]) * im_[k];
    }
    ++blocksUsed_;
}

std::optional<std::uint32_t> HighBandProbe::cutoffHz() const {
    if (blocksUsed_ < kMinBlocks || rate_ == 0 || mixedRates_ || power_.empty()) {
        return std::nullopt;
    }
    const double binHz = static_cast<double>(rate_) / kBlock;
    const std::size_t bandBins = std::max<std::size_t>(1, static_cast<std::size_t>(kBandHz / binHz + 0.5));
    std::vector<double> levels;
    for (std::size_t first = 1; first + bandBins <= power_.size(); first += bandBins) {
        double sum = 0.0;
        for (std::size_t k = first; k < first + bandBins; ++k) {
            sum += power_[k];
        }
        levels.push_back(10.0 * std::log10(sum / static_cast<double>(bandBins * blocksUsed_) + 1e-30));
    }
    if (levels.size() < 3) {
        return std::nullopt;
    }
    const double peak = *std::max_element(levels.begin(), levels.end());
    const double top = kTopShare * rate_ / 2.0;
    // From the top down: the highest band that stands a cliff above everything over it.
    double highestAbove = levels.back();
    for (std::size_t c = levels.size() - 1; c-- > 0;) {
        const double cutoff = static_cast<double>((c + 1) * bandBins) * binHz;
        if (cutoff < kLowestCutoffHz) {
            return 0;
        }
        if (levels[c] - highestAbove >= kCliffDb && levels[c] >= peak - kContentBelowPeakDb) {
            return cutoff < top ? static_cast<std::uint32_t>(cutoff) : 0;
        }
        highestAbove = std::max(highestAbove, levels[c]);
    }
    return 0;
}

} // namespace tonemirror::analysis
