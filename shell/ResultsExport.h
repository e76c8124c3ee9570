#pragma once

#include "engine/DuplicatePair.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tonemirror::shell {

// The counters of the scan that found the rows, written after them when known.
struct ScanSummary {
    std::int32_t filesQueued = 0;
    std::int32_t filesDone = 0;
    std::int32_t tracksKnown = 0;
    double elapsedSeconds = 0.0;
    bool interrupted = false;
};

// The rows as JSON: {"pairs": [{path1, path2, contentPercent, tagsPercent, experimentalPercent,
// acousticPercent}...]} in row order, paths in UTF-8, scores as stored (-100 below the threshold, off
// or not measured, -1 pending);
// with a summary also "counters" and "interrupted". Indented by 2, ended by a line break.
std::string formatResultsJson(const std::vector<engine::DuplicatePair>& rows, const ScanSummary* summary);

// The same fields as CSV (RFC 4180 quoting, CR LF line ends) under a header line; with a summary a
// blank line and the counters as a second small table follow.
std::string formatResultsCsv(const std::vector<engine::DuplicatePair>& rows, const ScanSummary* summary);

} // namespace tonemirror::shell
