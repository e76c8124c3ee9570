#include "analysis/PairScorer.h"

#include "analysis/AcousticMatch.h"

namespace tonemirror::analysis {

namespace {

// How far under the content threshold a pair may score and still be verified by its prints. In real
// music in many variants, the lowest content score of a copy that its tags did not bring up was 0.6
// (64 kbit/s MP3 against the others); 0.25 under the usual 0.75 leaves room below that, while the
// pairs to verify stay a small share of all pairs.
constexpr float kVerifyContentMargin = 0.25f;

} // namespace

PairScorer::PairScorer(const Rule& rule)
    : rule_(rule),
      contentFloor_(rule.verify ? rule.contentThreshold - kVerifyContentMargin : rule.contentThreshold) {}

bool PairScorer::score(const TrackRecord& a, const TrackRecord& b, PairScores& out) const {
    out = PairScores{};
    if (rule_.verify) {
        // Most candidates fail here, before the exact scores are worked out.
        out.acoustic = acousticScore(a, b);
        if (out.acoustic >= 0.0f && out.acoustic < rule_.acousticThreshold) {
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
    const bool candidate =
        (rule_.byContent && s.content >= contentFloor_) || (rule_.byTags && s.tags >= rule_.tagsThreshold);
    return candidate && s.acoustic >= rule_.acousticThreshold;
}

float PairScorer::acousticScore(const TrackRecord& a, const TrackRecord& b) const {
    if (a.acousticPrint.empty() || b.acousticPrint.empty()) {
        return -1.0f;
    }
    // Verification only asks whether the threshold is reached; reported pairs get the whole score.
    return rule_.verify ? compareAcousticAtLeast(a.acousticPrint, b.acousticPrint, rule_.acousticThreshold)
                        : compareAcoustic(a.acousticPrint, b.acousticPrint);
}

} // namespace tonemirror::analysis
