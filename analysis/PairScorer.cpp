#include "analysis/PairScorer.h"

#include "analysis/AcousticMatch.h"

namespace tonemirror::analysis {

PairScorer::PairScorer(const Rule& rule) : rule_(rule), contentFloor_(rule.contentThreshold) {}

bool PairScorer::score(const TrackRecord& a, const TrackRecord& b, PairScores& out) const {
    const bool shared = rule_.verify && !a.acousticPrint.empty() && !b.acousticPrint.empty() &&
                        printsShareWords(a.acousticPrint, b.acousticPrint);
    return score(a, b, out, shared);
}

bool PairScorer::score(const TrackRecord& a, const TrackRecord& b, PairScores& out, bool sharedWords) const {
    out = PairScores{};
    const bool bothPrinted = !a.acousticPrint.empty() && !b.acousticPrint.empty();
    if (rule_.verify && bothPrinted) {
        // Most candidates fail here, before the exact scores are worked out.
        out.sharedWords = sharedWords;
        if (!sharedWords) {
            return false;
        }
        out.acoustic = compareAcousticAtLeast(a.acousticPrint, b.acousticPrint, rule_.acousticThreshold);
        if (out.acoustic < rule_.acousticThreshold) {
            return false;
        }
    }
    out.content = compareContent(a, b);
    out.tags = compareTags(a, b);
    if (!isReported(out)) {
        return false;
    }
    if (!rule_.verify) {
        out.acoustic = acousticScore(a, b);
    }
    return true;
}

bool PairScorer::isReported(const PairScores& s) const {
    const bool byThresholds = (rule_.byContent && s.content >= rule_.contentThreshold) ||
                              (rule_.byTags && s.tags >= rule_.tagsThreshold);
    // Without a print on both sides nothing can be verified: the thresholds decide as without
    // verification.
    if (!rule_.verify || s.acoustic < 0.0f) {
        return byThresholds;
    }
    // The prints decide; the tags method alone also asks for the tags.
    const bool soundsAlike = s.sharedWords && s.acoustic >= rule_.acousticThreshold;
    return soundsAlike && (rule_.byContent || (rule_.byTags && s.tags >= rule_.tagsThreshold));
}

float PairScorer::acousticScore(const TrackRecord& a, const TrackRecord& b) const {
    if (a.acousticPrint.empty() || b.acousticPrint.empty()) {
        return -1.0f;
    }
    return compareAcoustic(a.acousticPrint, b.acousticPrint);
}

} // namespace tonemirror::analysis
