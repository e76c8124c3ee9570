#pragma once

#include "analysis/TrackRecord.h"

#include <vector>

namespace tonemirror::bench {

// What each step of the content side prunes and costs, on records made as the library's: for a sample
// of queries against every earlier track, the shares of pairs that pass the prefilter's two stages,
// the sketch bound, the key bound and the exact score, the nanoseconds each step takes per pair it
// sees, and how many of the prefilter's pairs a bound from more learned axes would keep.
void printContentStages(const std::vector<analysis::TrackRecord>& records, float threshold);

} // namespace tonemirror::bench
