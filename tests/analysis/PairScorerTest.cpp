#include "analysis/PairScorer.h"
#include "support/RealShapedRecord.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace tonemirror::analysis {
namespace {

AcousticPrint randomPrint(std::mt19937& rng) {
    AcousticPrint print(240);
    for (auto& word : print) {
        word = static_cast<std::uint32_t>(rng());
    }
    return print;
}

// A copy of `song`: the fingerprint mixed with `other` (weight 1 - mix), the same texts and print.
TrackRecord copyOf(const TrackRecord& song, const TrackRecord& other, float mix) {
    TrackRecord copy = song;
    std::array<float, kComparedSpectrumBins> spectrum;
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        spectrum[k] = mix * song.meanSpectrum[k] + (1.0f - mix) * other.meanSpectrum[k];
    }
    copy.meanSpectrum.assign(spectrum);
    for (std::size_t i = 0; i < copy.levelProfile.size(); ++i) {
        copy.levelProfile[i] = mix * song.levelProfile[i] + (1.0f - mix) * other.levelProfile[i];
    }
    return copy;
}

// Songs with copies of every degree (some with a wrong print, some with none) and unrelated tracks.
struct Library {
    std::vector<TrackRecord> records;
    std::vector<ContentKey> keys;
    std::vector<ContentSketch> sketches;
    std::vector<TagSketch> tags;
    std::vector<std::vector<std::uint32_t>> words;
    std::vector<std::vector<std::uint32_t>> swapped;

    Library() {
        std::mt19937 rng(11);
        for (int song = 0; song < 40; ++song) {
            TrackRecord r = realShapedRecord(rng);
            const std::u16string n(1, static_cast<char16_t>(u'a' + song % 26));
            r.nameText = u"track " + n + n;
            r.titleText = u"song " + n + std::u16string(1, static_cast<char16_t>(u'0' + song / 26));
            r.artistText = u"band " + n;
            r.acousticPrint = randomPrint(rng);
            const TrackRecord other = realShapedRecord(rng);
            records.push_back(r);
            records.push_back(copyOf(r, other, 0.3f + 0.0175f * static_cast<float>(song)));
            if (song % 5 == 0) {
                records.back().acousticPrint = randomPrint(rng);
            } else if (song % 7 == 0) {
                records.back().acousticPrint.clear();
            }
        }
        keys.resize(records.size());
        sketches.resize(records.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            makeContentKey(records[i], keys[i]);
            makeContentSketch(keys[i], sketches[i]);
            tags.push_back(makeTagSketch(records[i]));
        }
        words.resize(records.size());
        swapped.resize(records.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            distinctPrintWords(records[i].acousticPrint, words[i], swapped[i]);
        }
    }
    PreparedTrack prepared(std::size_t i) const {
        return {&sketches[i], &keys[i], &tags[i], {words[i], swapped[i]}};
    }
    // The copy (odd index, its song just before it) whose content score lies nearest `score`.
    std::size_t copyScoringNear(float score) const {
        std::size_t best = 1;
        for (std::size_t copy = 1; copy < records.size(); copy += 2) {
            if (std::abs(compareContent(records[copy], records[copy - 1]) - score) <
                std::abs(compareContent(records[best], records[best - 1]) - score)) {
                best = copy;
            }
        }
        return best;
    }
};

struct RuleCase {
    const char* name;
    bool byContent;
    bool byTags;
    bool verify;
    // The thresholds are one copy's exact scores with its song: bounds must keep a pair on the line.
    bool onAPairsScore = false;
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.name;
}

class PairScorerRules : public ::testing::TestWithParam<RuleCase> {};

// The cheap steps may only drop pairs that the exact scores would not report.
TEST_P(PairScorerRules, PruningNeverDropsAReportedPair) {
    static const Library library;
    const RuleCase c = GetParam();
    PairScorer::Rule rule{c.byContent, c.byTags, c.verify, 0.75f, 0.75f, 0.5f};
    const std::size_t onTheLine = c.onAPairsScore ? library.copyScoringNear(0.75f) : 0;
    if (c.onAPairsScore) {
        rule.contentThreshold = compareContent(library.records[onTheLine], library.records[onTheLine - 1]);
        rule.tagsThreshold = compareTags(library.records[onTheLine], library.records[onTheLine - 1]);
    }
    const PairScorer scorer(rule);
    std::size_t reported = 0;
    std::size_t pruned = 0;
    for (std::size_t me = 1; me < library.records.size(); ++me) {
        for (std::size_t i = 0; i < me; ++i) {
            PairScores s;
            const bool reports = scorer.score(library.records[me], library.records[i], s);
            const bool candidate = scorer.isCandidate(library.prepared(me), library.prepared(i));
            ASSERT_TRUE(candidate || !reports) << me << "," << i;
            if (me == onTheLine && i + 1 == me) {
                EXPECT_TRUE(reports) << "a score equal to the threshold reaches it";
            }
            if (reports) {
                EXPECT_TRUE(scorer.isReported(s));
            }
            reported += reports ? 1 : 0;
            pruned += candidate ? 0 : 1;
        }
    }
    EXPECT_GT(reported, 10u);
    EXPECT_GT(pruned, reported) << "the bounds must rule pairs out, not only keep them";
}

INSTANTIATE_TEST_SUITE_P(Rules, PairScorerRules,
                         ::testing::Values(RuleCase{"content", true, false, false},
                                           RuleCase{"tags", false, true, false},
                                           RuleCase{"both", true, true, false},
                                           RuleCase{"contentVerified", true, false, true},
                                           RuleCase{"bothVerified", true, true, true},
                                           RuleCase{"contentOnAPairsScore", true, false, false, true},
                                           RuleCase{"tagsOnAPairsScore", false, true, false, true}),
                         [](const auto& row) { return std::string(row.param.name); });

// A copy whose content score falls a little short of the threshold.
struct NearMiss {
    TrackRecord song;
    TrackRecord copy;
    float content = 0.0f;

    NearMiss() {
        std::mt19937 rng(5);
        song = realShapedRecord(rng);
        song.acousticPrint = randomPrint(rng);
        const TrackRecord other = realShapedRecord(rng);
        for (float mix = 1.0f; mix > 0.0f; mix -= 0.01f) {
            copy = copyOf(song, other, mix);
            content = compareContent(copy, song);
            if (content < 0.7f) {
                break;
            }
        }
    }
};

// The prepared forms of one record, kept together.
struct Prepared {
    ContentKey key;
    ContentSketch sketch;
    TagSketch tags;
    std::vector<std::uint32_t> words;
    std::vector<std::uint32_t> swapped;

    explicit Prepared(const TrackRecord& r) : tags(makeTagSketch(r)) {
        makeContentKey(r, key);
        makeContentSketch(key, sketch);
        distinctPrintWords(r.acousticPrint, words, swapped);
    }
    PreparedTrack track() const { return {&sketch, &key, &tags, {words, swapped}}; }
};

TEST(PairScorer, VerificationLetsThePrintsDecideJustUnderTheContentThreshold) {
    NearMiss pair;
    ASSERT_GT(pair.content, 0.55f);
    ASSERT_LT(pair.content, 0.7f);
    const Prepared copy(pair.copy);
    const Prepared song(pair.song);

    const PairScorer plain({true, false, false, 0.75f, 0.75f, 0.5f});
    PairScores s;
    EXPECT_FALSE(plain.isCandidate(copy.track(), song.track()));
    EXPECT_FALSE(plain.score(pair.copy, pair.song, s));

    const PairScorer verified({true, false, true, 0.75f, 0.75f, 0.5f});
    ASSERT_TRUE(verified.isCandidate(copy.track(), song.track()));
    ASSERT_TRUE(verified.score(pair.copy, pair.song, s));
    EXPECT_FLOAT_EQ(s.content, pair.content);
    EXPECT_FLOAT_EQ(s.acoustic, 1.0f);

    // Another recording's print, or none to verify with: the content threshold decides as without
    // verification.
    std::mt19937 rng(9);
    pair.copy.acousticPrint = randomPrint(rng);
    EXPECT_FALSE(verified.score(pair.copy, pair.song, s));
    pair.copy.acousticPrint.clear();
    EXPECT_FALSE(verified.score(pair.copy, pair.song, s));
}

// A copy in another form whose content score is low (a mono or resampled copy, silence before it)
// is found by its prints alone; prints that match block by block without sharing words are not.
TEST(PairScorer, PrintsDecideWhateverTheContentScore) {
    std::mt19937 rng(21);
    TrackRecord song = realShapedRecord(rng);
    song.acousticPrint = randomPrint(rng);
    TrackRecord copy = copyOf(song, realShapedRecord(rng), 0.0f);
    copy.nameText = u"track 7";
    copy.titleText = u"something else";
    copy.artistText = u"other band";
    copy.albumText = u"live";
    ASSERT_LT(compareContent(copy, song), 0.5f);
    const PairScorer verified({true, true, true, 0.75f, 0.75f, 0.5f});
    PairScores s;
    ASSERT_TRUE(verified.isCandidate(Prepared(copy).track(), Prepared(song).track()));
    ASSERT_TRUE(verified.score(copy, song, s));
    EXPECT_TRUE(s.sharedWords);
    EXPECT_FLOAT_EQ(s.acoustic, 1.0f);
    // The tags method alone still asks for the tags.
    EXPECT_FALSE(PairScorer({false, true, true, 0.75f, 0.75f, 0.5f}).score(copy, song, s));

    // Every word three bits away from the song's: each block differs in under 10 % of its bits, so
    // the blocks match, but no word is near one of the other print.
    for (std::uint32_t& w : copy.acousticPrint) {
        w ^= 0x00010101u;
    }
    ASSERT_GT(compareAcoustic(copy.acousticPrint, song.acousticPrint), 0.9f);
    EXPECT_FALSE(verified.isCandidate(Prepared(copy).track(), Prepared(song).track()));
    EXPECT_FALSE(verified.score(copy, song, s));
}

} // namespace
} // namespace tonemirror::analysis
