#pragma once

#include <atomic>
#include <cstdint>

namespace tonemirror::engine {

// Comparison settings. Written by the front end, read by the workers while they compare; each value
// is atomic so a change in the middle of a scan is seen whole.
struct ScanSettings {
    static constexpr std::int32_t kByTags = 1;
    static constexpr std::int32_t kByContent = 2;
    // Between the scores of copies (0.82 and up) and of other pieces (0.35 and below) in a corpus of
    // real music in many variants, nearer the latter so that worse copies still pass.
    static constexpr float kDefaultAcousticThreshold = 0.55f;

    std::atomic<std::int32_t> compareMethod{kByTags | kByContent};
    std::atomic<float> contentThreshold{0.75f};
    std::atomic<float> tagsThreshold{0.75f};
    std::atomic<bool> accurate{false};
    // "VerifyMatches": a pair is reported only when its acoustic match score reaches
    // acousticThreshold ("SensitivityAcoustic" x 0.01). Off keeps the content and tag rules alone.
    std::atomic<bool> verifyMatches{false};
    std::atomic<float> acousticThreshold{kDefaultAcousticThreshold};

    // Any stored method outside 1..3 counts as both.
    static std::int32_t normalisedMethod(std::int32_t method) {
        return (method >= 1 && method <= 3) ? method : (kByTags | kByContent);
    }
};

// The figure shown for a score against its threshold: 0 at the threshold, 1 for a perfect score,
// -1 below the threshold; 1 whenever the threshold is exactly 1.
float mapScore(float score, float threshold);

} // namespace tonemirror::engine
