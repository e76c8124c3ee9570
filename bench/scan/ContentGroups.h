#pragma once

#include "analysis/TrackRecord.h"

#include <vector>

namespace tonemirror::bench {

// Whether groups of tracks could spare the content prefilter reading every track: the tracks' first
// stage values (learned axes, level terms, sections) are put into K groups by k-means (a few rounds on
// the tracks the axes are learned from, then every track joins its nearest centre), and each group gets
// a bound that holds for any member: the box of its values (every product at the corner that maximises
// it), the longest rests and every constant flag, or its centre and radius, whichever is smaller. Prints,
// for a sample of queries, the share of pairs whose own bound passes and the share of groups (and of
// the tracks in them) whose bound passes, at three floors.
void printContentGroupPasses(const std::vector<analysis::TrackRecord>& records);

// The content prefilter as a scan runs it (every track added, then its query at floor 0.75 against the
// tracks before it, once the axes are learned from the first `learnAt`): how many tracks its byte stage
// read a query, against the earlier tracks there were, how many groups it has and bounded, and the
// time in the queries; with the groups' boxes bounded where they pay, always, and never.
void printPrefilterReads(const std::vector<analysis::TrackRecord>& records, std::size_t learnAt);

} // namespace tonemirror::bench
