#pragma once

#include "analysis/AnalysisFailure.h"

#include <string>
#include <vector>

namespace tonemirror::engine {

// One reported pair. The front end's rows add their own marks and details.
struct DuplicatePair {
    std::u16string path1;                // the later file, whose job found the pair
    std::u16string path2;                // the earlier file
    float contentPercent = -100.0f;      // 0..100 above the threshold, -100 below it
    float tagsPercent = -100.0f;         // likewise
    float experimentalPercent = -100.0f; // 0..100; -1 pending; -100 switched off
    float acousticPercent = -100.0f;     // 100 x the acoustic match score; -100 when a track has no print
    // Why the experimental comparison could not run (the percentage is then -100); none otherwise.
    analysis::AnalysisFailure experimentalFailure = analysis::AnalysisFailure::none;
};

// The experimental score of a pair reported earlier, once its slow comparison has run; the two paths
// are the pair's, in the same order.
struct ExperimentalScore {
    std::u16string path1;
    std::u16string path2;
    float experimentalPercent = -100.0f; // 0..100, or -100 when the comparison could not run
    analysis::AnalysisFailure failure = analysis::AnalysisFailure::none;
};

// What waits for the front end: new pairs and scores, each in the order found. A pair always joins
// before its score, so taking both together and folding the pairs in first never loses a score.
struct PendingResults {
    std::vector<DuplicatePair> pairs;
    std::vector<ExperimentalScore> scores;

    bool empty() const { return pairs.empty() && scores.empty(); }
};

} // namespace tonemirror::engine
