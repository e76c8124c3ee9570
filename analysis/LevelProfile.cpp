#include "analysis/LevelProfile.h"

#include "analysis/ExcerptReader.h"

#include <algorithm>
#include <cmath>

namespace tonemirror::analysis {

void LevelProfile::compute(const std::vector<float>& samples, std::array<float, kLevelProfileSize>& profile) {
    profile.fill(0.0f);
    const std::size_t segmentLength = kExcerptLength / kLevelProfileSize;
    std::size_t seg = 0;
    std::size_t count = 0;
    float s1 = 0.0f;
    float s2 = 0.0f;
    // Rounding can leave a nearly constant segment with a variance just below zero: clamp it.
    const auto close = [&] {
        const float c = static_cast<float>(count);
        const float m = s1 / c;
        profile[seg] = std::sqrt(std::max(0.0f, s2 / c - m * m));
    };
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (i > (seg + 1) * segmentLength) {
            close();
            ++seg;
            count = 0;
            if (seg == kLevelProfileSize) {
                break;
            }
            s1 = 0.0f;
            s2 = 0.0f;
        }
        const float x = samples[i];
        s2 += x * x;
        s1 += x;
        ++count;
    }
    if (seg < kLevelProfileSize && count > 0) {
        close();
    }
}

} // namespace tonemirror::analysis
