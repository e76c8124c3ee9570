#pragma once

#include "analysis/AnalysisFailure.h"
#include "plugin-api/PluginApi.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonemirror::analysis {

inline constexpr std::size_t kLevelWindow = 11025;
inline constexpr std::size_t kCurveGroup = 882;
inline constexpr std::size_t kBandFftSize = 65536;
inline constexpr std::size_t kBandHop = 22050;
inline constexpr std::size_t kBandCount = 25;
inline constexpr std::size_t kCurveTrim = 25;
inline constexpr std::size_t kCurveProbe = 375;
inline constexpr std::size_t kBandProbe = 15;

// The experimental comparison: level-change curves and band energies of the first 60 s of two files,
// matched by three 15 s probes of one file searched over the whole of the other. Keeps the transform
// arrays of the band energies (65536 points) from pair to pair; one per worker.
class ExperimentalComparison {
public:
    // Compares two sample arrays, each already mean-free with its RMS. S_OK with *score (normally
    // 0..1); E_FAIL with failure() telling why when either is shorter than 60 s or *stop becomes true.
    HResult compare(const std::vector<float>& samples1, float rms1, const std::vector<float>& samples2,
                    float rms2, float* score, const std::atomic<bool>* stop = nullptr);
    AnalysisFailure failure() const { return failure_; }

private:
    // What the probes compare of one file: its trimmed level-change curve and its band energies.
    struct Features {
        std::vector<float> curve;
        std::vector<float> bands;
    };
    HResult describe(const std::vector<float>& samples, float rms, Features& out,
                     const std::atomic<bool>* stop);
    HResult fail(AnalysisFailure why) {
        failure_ = why;
        return E_FAIL;
    }

    std::vector<float> bandRe_;
    std::vector<float> bandIm_;
    AnalysisFailure failure_ = AnalysisFailure::none;
};

// FFT bin edges of the 25 bands (26 values: band b covers bins E[b] .. E[b+1]-1).
const std::array<std::uint32_t, kBandCount + 1>& bandEdges();

// Level-change curve: per sample, how much the level of the `window` samples ahead differs from the
// `window` samples behind (-1..1), averaged over groups of `group` samples. E_FAIL when n < 2 * window
// or group is 0.
HResult levelChangeCurve(const float* x, std::size_t n, std::size_t window, std::size_t group, float rms,
                         std::vector<float>& curve);
// Mean magnitude of each band per second of audio, band-major (band j, second s at j * nsec + s).
// re and im are work arrays, resized as needed.
void bandEnergies(const float* x, std::size_t n, std::vector<float>& bands, std::vector<float>& re,
                  std::vector<float>& im);
// Best product of curve and band correlation of the three probes of y found in x (0 when none fits).
float matchProbes(const std::vector<float>& cx, const std::vector<float>& cy, const std::vector<float>& bx,
                  const std::vector<float>& by, std::size_t curveProbe, std::size_t bandProbe);

// Start of probe k (0, 1, 2) of length `probe` in a series of `size` values: centred in the first half,
// the whole and the second half. Negative when the probe does not fit.
std::ptrdiff_t probeStart(std::size_t size, std::size_t probe, int k);

} // namespace tonemirror::analysis
