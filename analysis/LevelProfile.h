#pragma once

#include "analysis/TrackRecord.h"

#include <array>
#include <vector>

namespace tonemirror::analysis {

// The level profile of an excerpt: how loud each of its 100 segments of 0.3 s is.
class LevelProfile {
public:
    // The standard deviation of each segment (segment 0 holds samples 0..6615, segment j the samples
    // 6615j + 1 .. 6615(j + 1)); segments past the end of a short excerpt stay 0.
    static void compute(const std::vector<float>& samples, std::array<float, kLevelProfileSize>& profile);
};

} // namespace tonemirror::analysis
