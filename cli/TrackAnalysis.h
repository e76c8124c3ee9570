#pragma once

#include "analysis/CComparer.h"
#include "analysis/TrackRecord.h"

#include <nlohmann/json.hpp>

#include <string>

namespace tonemirror::cli {

// Analyses one file as a scan does for a new file: texts from the decoder's stream info, then the
// excerpt and its fingerprints. Fills record and returns none, or the reason it failed.
analysis::AnalysisFailure analyseTrack(analysis::CComparer& comparer, const std::string& input,
                                       analysis::TrackRecord& record);

// The four texts and the three fingerprint arrays as JSON fields of `out`.
void addTrackFields(const analysis::TrackRecord& record, nlohmann::json& out);

} // namespace tonemirror::cli
