#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tonemirror::engine {

// The comparison choices as plain values, with their defaults: what the settings file, the Options
// dialog and the command line's options give the engine.
struct ScanPreferences {
    static constexpr std::int32_t kByTags = 1;
    static constexpr std::int32_t kByContent = 2;

    std::int32_t compareMethod = kByTags | kByContent; // 1 tags, 2 content, 3 both
    bool accurate = false;                             // the experimental comparison on
    float contentThreshold = 0.75f;
    float tagsThreshold = 0.75f;
    // A pair is reported only when its acoustic match score reaches acousticThreshold. Off keeps the
    // content and tag rules alone.
    bool verifyMatches = false;
    // Between the scores of copies (0.706 and up) and of other pieces or shared openings (0.43 and
    // below) in a corpus of real music in many variants (README, "Matching by sound").
    float acousticThreshold = 0.55f;
};

// Thresholds are stored, shown on sliders and given on the command line as whole percentages.
// Taken without a range check: 150 makes a threshold of 1.5.
float thresholdFromPercent(std::uint32_t percent);
// The nearest whole percentage (threshold x 100 + 0.5, truncated).
std::uint32_t percentFromThreshold(float threshold);

// Comparison settings. Written by the front end, read by the workers while they compare; each value
// is atomic so a change in the middle of a scan is seen whole.
struct ScanSettings {
    static constexpr std::int32_t kByTags = ScanPreferences::kByTags;
    static constexpr std::int32_t kByContent = ScanPreferences::kByContent;

    std::atomic<std::int32_t> compareMethod{ScanPreferences{}.compareMethod};
    std::atomic<float> contentThreshold{ScanPreferences{}.contentThreshold};
    std::atomic<float> tagsThreshold{ScanPreferences{}.tagsThreshold};
    std::atomic<bool> accurate{ScanPreferences{}.accurate};
    std::atomic<bool> verifyMatches{ScanPreferences{}.verifyMatches};
    std::atomic<float> acousticThreshold{ScanPreferences{}.acousticThreshold};

    // Each value on its own: workers may see a mix of old and new values for one pair.
    void assign(const ScanPreferences& preferences);
    ScanPreferences preferences() const;
    // Compares a new track with every earlier one instead of only with the candidates of the scan's
    // indexes. Same pairs, far slower: the reference that the indexes are checked against.
    std::atomic<bool> allPairs{false};
    // Tracks a scan holds before its content prefilter learns its axes from them (the loop and the
    // content index serve until then). Read when a scan starts; tests lower it to reach the
    // prefilter with small libraries.
    static constexpr std::size_t kDefaultContentAxesAt = 2048;
    std::atomic<std::size_t> contentAxesAt{kDefaultContentAxesAt};

    // Any stored method outside 1..3 counts as both.
    static std::int32_t normalisedMethod(std::int32_t method) {
        return (method >= 1 && method <= 3) ? method : (kByTags | kByContent);
    }
};

// The figure shown for a score against its threshold: 0 at the threshold, 1 for a perfect score,
// -1 below the threshold; 1 whenever the threshold is exactly 1.
float mapScore(float score, float threshold);

} // namespace tonemirror::engine
