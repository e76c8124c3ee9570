#pragma once

#include "analysis/TextLikeness.h"
#include "analysis/TrackRecord.h"

namespace tonemirror::analysis {

// How alike two tracks are by title, artist, album and file name, 0..1 (tagsScore). newer is the
// track whose job runs the comparison (higher trackId), older the earlier one; the score is not
// symmetric, because the file-name fallbacks look at which side lacks a title or artist. Pure.
float compareTags(const TrackRecord& newer, const TrackRecord& older) noexcept;

// Sketches of a record's four texts, made once per record so that a scan can bound compareTags
// cheaply for every pair.
struct TagSketch {
    TextSketch name;
    TextSketch title;
    TextSketch artist;
    TextSketch album;
};

TagSketch makeTagSketch(const TrackRecord& record) noexcept;

// Never below compareTags(newer, older), and far cheaper (linear in the text lengths instead of
// quadratic), so pairs whose bound is under the tag threshold can skip compareTags. The sketches must
// be those of the two records.
float compareTagsUpperBound(const TrackRecord& newer, const TagSketch& newerSketch, const TrackRecord& older,
                            const TagSketch& olderSketch) noexcept;

} // namespace tonemirror::analysis
