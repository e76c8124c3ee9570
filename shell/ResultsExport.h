#pragma once

#include "engine/DuplicatePair.h"
#include "engine/SkippedItem.h"

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
    // What the scan left out (ScanEngine::skippedItems) and how many there were; null: not known.
    const std::vector<engine::SkippedItem>* skipped = nullptr;
    std::int32_t itemsSkipped = 0;
};

// The rows as JSON: {"pairs": [{path1, path2, contentPercent, tagsPercent, experimentalPercent,
// acousticPercent}...]} in row order, paths in UTF-8 (a name that is not UTF-8 written escaped and
// marked, see putName), scores as stored (-100 below the threshold, off or not measured, -1 pending);
// with a summary also "counters" and "interrupted", and with its skipped items "skipped": [{path,
// reason, detail}...]. Indented by 2, ended by a line break. Never throws.
std::string formatResultsJson(const std::vector<engine::DuplicatePair>& rows, const ScanSummary* summary);

// The same fields as CSV (RFC 4180 quoting, CR LF line ends) under a header line, names as
// displayText shows them; with a summary a blank line and the counters as a second small table
// follow.
std::string formatResultsCsv(const std::vector<engine::DuplicatePair>& rows, const ScanSummary* summary);

} // namespace tonemirror::shell
