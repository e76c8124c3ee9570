#pragma once

#include "analysis/AcousticMatch.h"
#include "analysis/ContentComparison.h"
#include "analysis/ContentSketch.h"
#include "analysis/TagComparison.h"
#include "analysis/TrackRecord.h"

#include <cstdint>
#include <span>

namespace tonemirror::analysis {

// The forms of one track that the pruning steps read, prepared once per scan (see PairScorer).
struct PreparedTrack {
    const ContentSketch* sketch;
    const ContentKey* key;
    const TagSketch* tags;
    // The distinct words of the acoustic print (distinctPrintWords); empty without a print.
    PrintWords printWords = {};
};

// The scores of a pair that is reported.
struct PairScores {
    float content = 0.0f;
    float tags = 0.0f;
    float acoustic = -1.0f;   // -1: a track has no acoustic print
    bool sharedWords = false; // with verification: the prints share words (printsShareWords)
};

// Decides whether a pair of tracks is reported, and with which scores, in steps of rising cost:
// 1. isCandidate: the content sketch bound (under a kilobyte per track), then the content key's fast
//    score, and the bound of the tag score; pairs that reach neither threshold stop here;
// 2. score: with verification the acoustic prints first (most candidates fail there), then the exact
//    content and tag scores against the thresholds.
// With verification a pair of tracks that both have a print is decided by the prints, whatever its
// content score: the prints must share a word and match at the acoustic threshold (and with the tags
// method alone, the tags must reach theirs too). Its candidates are the pairs whose prints share a
// word, which the scan's print index names. Bounds are compared with a small margin so that no pair
// whose exact score reaches a threshold is ever pruned. Immutable; safe on any thread.
class PairScorer {
public:
    struct Rule {
        bool byContent = false;
        bool byTags = false;
        bool verify = false;
        float contentThreshold = 0.0f;
        float tagsThreshold = 0.0f;
        float acousticThreshold = 0.0f;
    };

    explicit PairScorer(const Rule& rule);

    const Rule& rule() const { return rule_; }
    // Content scores from here on are candidates.
    float contentFloor() const { return contentFloor_; }

    // False when the pair cannot be reported. Inline: a scan asks this of every pair.
    bool isCandidate(const PreparedTrack& a, const PreparedTrack& b) const {
        if (decidedByPrints(a, b)) {
            return shareWords(a.printWords, b.printWords);
        }
        return isContentCandidate(a, b) || isTagsCandidate(a, b);
    }
    // The two halves of isCandidate for a pair not decided by its prints: whether it may reach the
    // content floor, or the tag threshold.
    bool isContentCandidate(const PreparedTrack& a, const PreparedTrack& b) const {
        const float floor = contentFloor_ - kBoundMargin;
        return rule_.byContent && contentSketchBound(*a.sketch, *b.sketch) >= floor &&
               contentUpperBound(*a.key, *b.key) >= floor && compareContent(*a.key, *b.key) >= floor;
    }
    bool isTagsCandidate(const PreparedTrack& a, const PreparedTrack& b) const {
        return rule_.byTags && tagsBoundReaches(*a.tags, *b.tags, rule_.tagsThreshold - kBoundMargin);
    }
    // Whether the pair is decided by its prints: verification is on and both tracks have one.
    bool decidedByPrints(const PreparedTrack& a, const PreparedTrack& b) const {
        return rule_.verify && !a.printWords.empty() && !b.printWords.empty();
    }
    // True with the scores when the pair is reported (a is the newer track, as for compareTags).
    // `sharedWords` says whether the prints share words (printsShareWords), when the caller knows it
    // already: for a pair that passed isCandidate, that is decidedByPrints. The first form works it out.
    bool score(const TrackRecord& a, const TrackRecord& b, PairScores& out) const;
    bool score(const TrackRecord& a, const TrackRecord& b, PairScores& out, bool sharedWords) const;
    // Whether a pair with these scores is reported.
    bool isReported(const PairScores& s) const;

    // The fast content key agrees with the direct formula to about 1e-6; pairs whose bound comes this
    // close to a threshold are scored exactly, so no pair that reaches it is ever missed.
    static constexpr float kBoundMargin = 1e-4f;
    // A tag score is a weighted mean of text likenesses, so one of them reaches the score less the
    // rounding of the mean, which this covers.
    static constexpr float kTagsIndexMargin = 2e-4f;

private:
    float acousticScore(const TrackRecord& a, const TrackRecord& b) const;

    Rule rule_;
    float contentFloor_;
};

} // namespace tonemirror::analysis
