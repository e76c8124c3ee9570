#pragma once

#include "analysis/AnalysisFailure.h"

#include <memory>
#include <string>

namespace tonemirror::engine {

// What the front end shows of one file of a pair once the row is selected; gathered by the front end.
struct DetailsRecord;

// One reported pair, or (isUpdate) the experimental score of a pair reported earlier.
struct DuplicatePair {
    std::u16string path1;                // the later file, whose job found the pair
    std::u16string path2;                // the earlier file
    float contentPercent = -100.0f;      // 0..100 above the threshold, -100 below it
    float tagsPercent = -100.0f;         // likewise
    float experimentalPercent = -100.0f; // 0..100; -1 pending; -100 switched off
    float acousticPercent = -100.0f;     // 100 x the acoustic match score; -100 when a track has no print
    // Why the experimental comparison could not run (the percentage is then -100); none otherwise.
    analysis::AnalysisFailure experimentalFailure = analysis::AnalysisFailure::none;
    bool isUpdate = false;
    bool marked1 = false;
    bool marked2 = false;
    std::shared_ptr<DetailsRecord> details1;
    std::shared_ptr<DetailsRecord> details2;
};

} // namespace tonemirror::engine
