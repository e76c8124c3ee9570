#pragma once

#include "analysis/TrackRecord.h"
#include "plugin-api/PluginApi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonemirror::analysis {

inline constexpr std::size_t kSpectrumBlock = 2048;
inline constexpr std::size_t kSpectrumSections = 11;

// All kSpectrumSize bins of a record's spectrum: the kept ones (rounded as the record holds them), then
// the analysed upper ones, or where the record no longer holds them, the mirror image of the lower bins with
// each bin's tilt ((k + 1) / kSpectrumSize).
void fullSpectrum(const TrackRecord& record, std::array<float, kSpectrumSize>& out);

// The spectral part of a content fingerprint: the mean magnitude spectrum of an excerpt's blocks of
// 2048 samples, and how alike the spectra of its 11 consecutive sections are. Keeps its work arrays
// from file to file; one per worker.
class SpectrumProfile {
public:
    // Writes record.meanSpectrum (with spectrumRest) and record.sectionCorrelations. E_FAIL for fewer than
    // 2048 samples.
    HResult compute(const std::vector<float>& samples, TrackRecord& record);

private:
    using Spectrum = std::array<float, kSpectrumBlock>;
    using BlockCounts = std::array<std::uint32_t, kSpectrumSections>;

    // Sums the magnitude spectrum of every block into `mean` and into its section; returns the number
    // of blocks.
    std::uint32_t sumBlockSpectra(const std::vector<float>& samples, Spectrum& mean, BlockCounts& blocks);
    void magnitudesOf(const float* x, std::size_t len);

    Spectrum mean_{};
    Spectrum workRe_{};
    Spectrum workIm_{};
    // Section spectra, kept to spare the allocation per file.
    std::vector<float> sectionSpectra_;
};

} // namespace tonemirror::analysis
