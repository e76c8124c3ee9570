#pragma once

#include "analysis/AnalysisFailure.h"
#include "analysis/BlockReader.h"

#include <cstddef>
#include <vector>

namespace tonemirror::analysis {

// Lengths in samples at 22050 per second.
inline constexpr std::size_t kExcerptLength = 661500;      // 30 s
inline constexpr std::size_t kMinimumLength = 330750;      // 15 s
inline constexpr std::size_t kLongExcerptLength = 1323000; // 60 s, experimental comparison
// The opening a verifying scan prints. Long enough that songs sharing a 15 s intro score well under
// copies with up to 10 s cut from their start ((40 - 15) / 40 apart at most), short enough that
// decoding it costs a scan about a fifth more than the excerpt alone.
inline constexpr std::size_t kAcousticSpanLength = 882000; // 40 s

// Reads the audio the analysis works on from a stream of decoded blocks. Keeps its buffer's capacity
// from file to file; one per worker.
class ExcerptReader {
public:
    // The excerpt a fingerprint is made from: the first 30 s are read, the lead-in before the music
    // starts is cut and the excerpt is refilled to 30 s. E_FAIL with failure() telling why when the
    // stream gives fewer than 15 s, is silent in its first 30 s, is too short after the cut, or
    // contains non-finite samples.
    HResult read(const BlockReader& read);
    // After read: goes on with the same stream, so that samples() holds the excerpt and what follows
    // it, up to `limit` samples in all (the acoustic print of a longer opening). Stops early at the
    // stream's end, a failure or a sample that is not finite; the excerpt itself stays as it was.
    void extend(const BlockReader& read, std::size_t limit);
    // The first `limit` samples of a stream, mean removed; *rms is their RMS. E_FAIL (badSamples) when a
    // sample is not finite; an empty stream gives an empty `out`.
    HResult readOpening(const BlockReader& read, std::size_t limit, std::vector<float>& out, float* rms);

    // The excerpt left by read.
    const std::vector<float>& samples() const { return samples_; }
    AnalysisFailure failure() const { return failure_; }

private:
    HResult readFirst(const BlockReader& read, float& level);
    HResult refill(const BlockReader& read);
    HResult fail(AnalysisFailure why) {
        failure_ = why;
        return E_FAIL;
    }

    std::vector<float> samples_;
    std::vector<float> overflow_; // decoded past the excerpt's end, kept for extend
    AnalysisFailure failure_ = AnalysisFailure::none;
};

} // namespace tonemirror::analysis
