#pragma once

#include "analysis/TextLikeness.h"
#include "analysis/TrackRecord.h"

namespace tonemirror::analysis {

// How alike two tracks are by title, artist, album and file name, 0..1 (tagsScore). newer is the
// track whose job runs the comparison (higher trackId), older the earlier one; the score is not
// symmetric, because the file-name fallbacks look at which side lacks a title or artist. Pure.
float compareTags(const TrackRecord& newer, const TrackRecord& older) noexcept;

// The four parts of the tag score, as bits.
enum TagPart : unsigned { kTitlePart = 1, kArtistPart = 2, kNamePart = 4, kAlbumPart = 8 };

// The TagPart bits of the texts a record has (title, artist, file name, album not empty).
unsigned tagTextsOf(const TrackRecord& record) noexcept;

// The parts whose weight compareTags counts whatever their value, from the TagPart bits of the texts
// each track has: a title, artist or name on both sides, an album on either.
unsigned partsAlwaysCounted(unsigned newerTexts, unsigned olderTexts) noexcept;

// The highest compareTags can give when each part (title, artist, name, album: the value compareTags
// settles on for it, after the swap and the file-name fallbacks) is at most the given value and
// `alwaysCounted` are the parts counted whatever their value (a part outside it leaves the weight sum
// when 0).
float tagsScoreWithParts(float title, float artist, float name, float album, unsigned alwaysCounted) noexcept;

// Sketches of a record's four texts, made once per record so that a scan can bound compareTags
// cheaply for every pair.
struct TagSketch {
    TextSketch name;
    TextSketch title;
    TextSketch artist;
    TextSketch album;
};

TagSketch makeTagSketch(const TrackRecord& record) noexcept;

// Never below compareTags of the two records the sketches were made from, and far cheaper (a few
// hundred word operations, whatever the text lengths), so that pairs whose bound is under the tag
// threshold can skip compareTags.
float compareTagsUpperBound(const TagSketch& newer, const TagSketch& older) noexcept;

// compareTagsUpperBound(newer, older) >= floor, bounding the title first and the artist next with
// every later part taken as a full match, so that most pairs are turned down after a third of the
// work.
bool tagsBoundReaches(const TagSketch& newer, const TagSketch& older, float floor) noexcept;

} // namespace tonemirror::analysis
