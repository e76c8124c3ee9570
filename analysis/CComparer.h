#pragma once

#include "analysis/AcousticFingerprinter.h"
#include "analysis/TrackRecord.h"
#include "audio/AudioSource.h"
#include "plugin-api/PluginApi.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tonemirror::audio {
class PluginList;
} // namespace tonemirror::audio

namespace tonemirror::analysis {

// Lengths in samples at 22050 per second.
inline constexpr std::size_t kExcerptLength = 661500;      // 30 s
inline constexpr std::size_t kMinimumLength = 330750;      // 15 s
inline constexpr std::size_t kLongExcerptLength = 1323000; // 60 s, experimental comparison
inline constexpr std::size_t kSpectrumBlock = 2048;
inline constexpr std::size_t kSpectrumSections = 11;

// Yields the next block of samples (count may be 0); a negative result ends the stream.
using BlockReader = std::function<HResult(const float** samples, std::uint32_t* count)>;

// Why the last readExcerpt, readLongExcerpt or experimental comparison failed.
enum class AnalysisFailure {
    none,
    noDecoder,  // no decoder opens the file
    tooShort,   // fewer than 15 s (excerpt) or 60 s (experimental) of audio
    silent,     // the first 30 s are all zero
    badSamples, // the decoder delivered non-finite samples
    stopped,    // a stop was requested
};
// "no decoder", "too short", "silent", "non-finite samples", "stopped" ("" for none).
const char* failureText(AnalysisFailure failure);

// The analysis context of one worker thread: its AudioSource, the excerpt buffer, the FFT work area and
// the record under construction. Never shared between threads; the buffers keep their capacity from
// file to file.
class CComparer {
public:
    // One decoder from each loaded plug-in.
    explicit CComparer(const audio::PluginList& plugins);
    // Uses the given source (tests, or a caller that builds its own).
    explicit CComparer(std::unique_ptr<audio::AudioSource> source);
    ~CComparer();
    CComparer(const CComparer&) = delete;
    CComparer& operator=(const CComparer&) = delete;

    // Puts the calling thread at the lowest priority. Failures are reported on stderr as
    // "CComparer::Initialize"; the worker should not start then.
    HResult initialize();

    audio::AudioSource& audioSource() { return *source_; }
    AnalysisFailure lastFailure() const { return lastFailure_; }

    // Analyses a new file the way a scan does: opens it through the AudioSource, takes the four texts
    // from the decoder's stream info (all empty when it has none), reads the excerpt, closes the source
    // and computes the fingerprints, all into record() (its trackId is left alone). E_FAIL with
    // lastFailure() telling why. A missing acoustic print alone is no failure: it stays empty.
    HResult analyseFile(const std::u16string& path);

    // Fingerprint extraction, in this order: readExcerpt with the AudioSource open (the caller closes it
    // afterwards either way), then computeSpectra and computeLevelProfile on the buffer alone.
    // readExcerpt fails when the stream gives fewer than 15 s, is silent in its first 30 s, is too short
    // after its lead-in is cut, or contains non-finite samples.
    HResult readExcerpt();
    HResult readExcerpt(const BlockReader& read);
    HResult computeSpectra();
    HResult computeLevelProfile();
    // The acoustic print of the excerpt into record().acousticPrint (emptied when none can be made).
    HResult computeAcousticPrint();

    // The excerpt left by readExcerpt (or set directly, e.g. by a benchmark).
    std::vector<float>& samples() { return samples_; }
    const std::vector<float>& samples() const { return samples_; }

    // The record under construction; the three computations write its fingerprint arrays.
    TrackRecord& record() { return record_; }
    const TrackRecord& record() const { return record_; }

    // Experimental comparison of two files, decoded again from their beginnings. S_OK with *score
    // (normally 0..1), or E_FAIL when either file cannot be decoded, is shorter than 60 s, or *stop
    // becomes true on the way.
    HResult compareExperimental(const std::u16string& path1, const std::u16string& path2, float* score,
                                const std::atomic<bool>* stop = nullptr);
    // The first `limit` samples of a file, mean removed; *rms is their RMS. E_FAIL when no decoder
    // opens the file or a sample is not finite. The AudioSource is closed again before returning.
    HResult readLongExcerpt(const std::u16string& path, std::size_t limit, std::vector<float>& out,
                            float* rms);
    HResult readLongExcerpt(const BlockReader& read, std::size_t limit, std::vector<float>& out, float* rms);
    // Experimental comparison of two sample arrays, each already mean-free with its RMS.
    HResult compareSamples(const std::vector<float>& samples1, float rms1, const std::vector<float>& samples2,
                           float rms2, float* score, const std::atomic<bool>* stop = nullptr);

private:
    std::unique_ptr<audio::AudioSource> source_;
    std::vector<float> samples_;
    std::array<float, kSpectrumBlock> workRe_{};
    std::array<float, kSpectrumBlock> workIm_{};
    // Section spectra of computeSpectra, kept to spare the allocation per file.
    std::vector<float> sectionSpectra_;
    // Transform arrays of the band energies (65536 points), allocated on first use.
    std::vector<float> bandRe_;
    std::vector<float> bandIm_;
    AcousticFingerprinter fingerprinter_;
    TrackRecord record_;
    AnalysisFailure lastFailure_ = AnalysisFailure::none;
};

// Experimental comparison steps, exposed for tests and benchmarks.
inline constexpr std::size_t kLevelWindow = 11025;
inline constexpr std::size_t kCurveGroup = 882;
inline constexpr std::size_t kBandFftSize = 65536;
inline constexpr std::size_t kBandHop = 22050;
inline constexpr std::size_t kBandCount = 25;
inline constexpr std::size_t kCurveTrim = 25;
inline constexpr std::size_t kCurveProbe = 375;
inline constexpr std::size_t kBandProbe = 15;

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
