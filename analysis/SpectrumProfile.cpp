#include "analysis/SpectrumProfile.h"

#include "analysis/SignalMath.h"

#include <algorithm>
#include <cmath>

namespace tonemirror::analysis {

namespace {

// Averages a summed spectrum over its blocks and tilts it by (k + 1) / 2048 so that the quieter high
// bins weigh in.
void averageAndTilt(float* spectrum, std::uint32_t blocks) {
    const float perBlock = 1.0f / static_cast<float>(blocks);
    for (std::size_t k = 0; k < kSpectrumBlock; ++k) {
        spectrum[k] = static_cast<float>(k + 1) * perBlock / static_cast<float>(kSpectrumBlock) * spectrum[k];
    }
}

} // namespace

void fullSpectrum(const TrackRecord& record, std::array<float, kSpectrumSize>& out) {
    const std::array<float, kComparedSpectrumBins> kept = record.meanSpectrum.values();
    std::copy(kept.begin(), kept.end(), out.begin());
    if (record.spectrumRest.size() == kSpectrumSize - kComparedSpectrumBins) {
        std::copy(record.spectrumRest.begin(), record.spectrumRest.end(),
                  out.begin() + kComparedSpectrumBins);
        return;
    }
    // A real signal's magnitudes mirror: |X[k]| = |X[N - k]|; only the tilt differs.
    for (std::size_t k = kComparedSpectrumBins; k < kSpectrumSize; ++k) {
        const std::size_t m = kSpectrumSize - k;
        out[k] = kept[m] / static_cast<float>(m + 1) * static_cast<float>(k + 1);
    }
}

HResult SpectrumProfile::compute(const std::vector<float>& samples, TrackRecord& record) {
    if (samples.size() < kSpectrumBlock) {
        return E_FAIL;
    }
    sectionSpectra_.assign(kSpectrumSections * kSpectrumBlock, 0.0f);
    BlockCounts blocks{};
    averageAndTilt(mean_.data(), sumBlockSpectra(samples, mean_, blocks));
    record.meanSpectrum.assign(mean_.data());
    record.spectrumRest.assign(mean_.begin() + kComparedSpectrumBins, mean_.end());
    for (std::size_t s = 0; s < kSpectrumSections; ++s) {
        // A buffer of a few blocks leaves sections empty; they stay zero rather than 0 * inf.
        if (blocks[s] != 0) {
            averageAndTilt(sectionSpectra_.data() + s * kSpectrumBlock, blocks[s]);
        }
    }
    for (std::size_t l = 0; l + 1 < kSpectrumSections; ++l) {
        record.sectionCorrelations[l] =
            correlation(sectionSpectra_.data() + l * kSpectrumBlock,
                        sectionSpectra_.data() + (l + 1) * kSpectrumBlock, kComparedSpectrumBins);
    }
    return S_OK;
}

std::uint32_t SpectrumProfile::sumBlockSpectra(const std::vector<float>& samples, Spectrum& mean,
                                               BlockCounts& blocks) {
    const std::size_t n = samples.size();
    mean.fill(0.0f);
    std::uint32_t total = 0;
    for (std::size_t pos = 0; pos < n; pos += kSpectrumBlock) {
        magnitudesOf(samples.data() + pos, std::min(kSpectrumBlock, n - pos));
        const std::size_t sec = (pos * kSpectrumSections) / n;
        ++blocks[sec];
        float* section = sectionSpectra_.data() + sec * kSpectrumBlock;
        for (std::size_t k = 0; k < kSpectrumBlock; ++k) {
            mean[k] += workRe_[k];
            section[k] += workRe_[k];
        }
        ++total;
    }
    return total;
}

// The magnitude spectrum of one block (zero-padded to 2048 samples) into workRe_.
void SpectrumProfile::magnitudesOf(const float* x, std::size_t len) {
    std::copy(x, x + len, workRe_.begin());
    std::fill(workRe_.begin() + static_cast<std::ptrdiff_t>(len), workRe_.end(), 0.0f);
    workIm_.fill(0.0f);
    fft(workRe_.data(), workIm_.data(), kSpectrumBlock);
    for (std::size_t k = 0; k < kSpectrumBlock; ++k) {
        workRe_[k] = std::sqrt(workRe_[k] * workRe_[k] + workIm_[k] * workIm_[k]);
    }
}

} // namespace tonemirror::analysis
