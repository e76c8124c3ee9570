#include "engine/ScanIndex.h"
#include "analysis/ContentComparison.h"
#include "analysis/TagComparison.h"
#include "analysis/TextLikeness.h"
#include "engine/TagIndex.h"
#include "support/RealShapedRecord.h"
#include "support/SpectrumEdit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace tonemirror::engine {
namespace {

using analysis::PairScorer;
using analysis::TrackRecord;

const char16_t* const kWords[] = {u"love", u"night", u"fire", u"rain", u"blue",  u"home",   u"sky",
                                  u"run",  u"a",     u"go",   u"echo", u"storm", u"velvet", u"midnight"};

std::u16string words(std::mt19937& rng, int count) {
    std::u16string s;
    for (int i = 0; i < count; ++i) {
        s += (i > 0 ? u" " : u"") + std::u16string(kWords[rng() % std::size(kWords)]);
    }
    return s;
}

// Texts that look alike in many ways: shared words, very short ones, swapped or missing fields, the
// title only in the file name.
void giveTexts(TrackRecord& r, std::mt19937& rng) {
    r.titleText = words(rng, 1 + static_cast<int>(rng() % 3));
    r.artistText = words(rng, 1 + static_cast<int>(rng() % 2));
    r.albumText = rng() % 3 == 0 ? u"" : words(rng, 2);
    r.nameText = r.artistText + u" - " + r.titleText;
    switch (rng() % 6) {
    case 0:
        std::swap(r.titleText, r.artistText);
        break;
    case 1:
        r.titleText.clear();
        break;
    case 2:
        r.artistText = r.artistText.substr(0, 1 + rng() % 3);
        break;
    default:
        break;
    }
}

// Near copies of a few songs (content noise of several strengths, tags kept, changed or dropped),
// unrelated songs, silent ones and songs without an acoustic print.
std::deque<TrackRecord> randomLibrary(unsigned seed, std::size_t n) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::deque<TrackRecord> library;
    while (library.size() < n) {
        TrackRecord r;
        if (!library.empty() && rng() % 3 == 0) {
            r = library[rng() % library.size()];
            const float strength = 0.01f * static_cast<float>(1 + rng() % 40);
            // A draw for every bin of an analysed spectrum, so that the seeds keep their libraries.
            analysis::editSpectrum(r, [&](auto& s) {
                for (std::size_t k = 0; k < analysis::kSpectrumSize; ++k) {
                    const float f = 1.0f + strength * noise(rng);
                    if (k < s.size()) {
                        s[k] *= f;
                    }
                }
            });
            for (float& v : r.levelProfile) {
                v *= 1.0f + strength * noise(rng);
            }
            if (rng() % 3 == 0) {
                giveTexts(r, rng);
            }
        } else {
            r = analysis::realShapedRecord(rng);
            giveTexts(r, rng);
            r.acousticPrint.assign(64, static_cast<std::uint32_t>(rng()));
        }
        if (rng() % 25 == 0) {
            analysis::fillSpectrum(r, 0.5f); // silence: correlates as 1 with anything
        }
        if (rng() % 5 == 0) {
            r.acousticPrint.clear();
        }
        library.push_back(std::move(r));
    }
    return library;
}

// The tag index alone names every earlier track whose tag score reaches the threshold, in order.
void expectTagCandidates(const ScanIndex& index, const PairScorer& scorer,
                         const std::deque<TrackRecord>& library, std::size_t me, float threshold) {
    std::vector<std::uint32_t> tagged;
    if (!index.tagCandidates(me, scorer, tagged, SIZE_MAX)) {
        return;
    }
    ASSERT_TRUE(std::is_sorted(tagged.begin(), tagged.end()));
    for (std::size_t i = 0; i < me; ++i) {
        if (analysis::compareTags(library[me], library[i]) >= threshold) {
            ASSERT_TRUE(std::binary_search(tagged.begin(), tagged.end(), static_cast<std::uint32_t>(i)))
                << "threshold " << threshold << ": pair " << me << "-" << i << " missed by the tag index";
        }
    }
}

// How the structures the queries read come to hold the tracks.
enum class Build {
    InStep,      // as each track is appended
    OnDemand,    // at once for the first tracks, then as appended; the axes learned apart
    AxesPending, // the same, the axes never installed: the content index serves past learnAt
};

struct RuleCase {
    const char* name;
    bool byContent;
    bool byTags;
    bool verify;
    // Tracks after which the content prefilter takes over from the content index.
    std::size_t learnAt = ContentPrefilter::kDefaultLearnAt;
    Build build = Build::InStep;
};

// Appends the library as a scan built on demand does: queries built after `builtAt` tracks, the
// axes' sample learned from and installed `installDelay` appends after it was due. Returns whether
// the prefilter got its axes.
bool appendOnDemand(ScanIndex& index, const std::deque<TrackRecord>& library,
                    std::deque<std::u16string>& paths, std::size_t builtAt, std::size_t installDelay,
                    bool install) {
    std::optional<ScanIndex::AxesSample> sample;
    std::size_t sampledAt = 0;
    bool installed = false;
    for (std::size_t i = 0; i < library.size(); ++i) {
        paths.push_back(u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
        index.append(paths.back(), library[i]);
        if (i + 1 == builtAt) {
            index.buildQueries();
        }
        if (auto taken = index.takeAxesSample()) {
            EXPECT_FALSE(sample.has_value()) << "the sample is handed out once";
            sample = std::move(taken);
            sampledAt = i;
        }
        if (install && sample && !installed && i == sampledAt + installDelay) {
            index.installAxes(ScanIndex::learnAxes(*sample), sample->generation);
            installed = true;
        }
    }
    if (install && sample && !installed) {
        index.installAxes(ScanIndex::learnAxes(*sample), sample->generation);
        installed = true;
    }
    return installed;
}

// Both thresholds at `threshold`, prints alike from 0.5 on.
PairScorer::Rule ruleAt(float threshold, bool byContent, bool byTags, bool verify) {
    PairScorer::Rule rule;
    rule.byContent = byContent;
    rule.byTags = byTags;
    rule.verify = verify;
    rule.contentThreshold = threshold;
    rule.tagsThreshold = threshold;
    rule.acousticThreshold = 0.5f;
    return rule;
}

class CandidateSearch : public ::testing::TestWithParam<RuleCase> {};

// Every pair that the scorer's cheap steps let through is among the index's candidates, for every
// threshold, so the index reports exactly what comparing every pair reports.
TEST_P(CandidateSearch, CandidatesHoldEveryPairTheAllPairsLoopWouldScore) {
    const RuleCase& c = GetParam();
    const std::deque<TrackRecord> library = randomLibrary(c.byContent * 2 + c.byTags + c.verify * 4, 300);
    ScanIndex index;
    index.clear(c.verify, c.learnAt, c.build != Build::InStep);
    std::deque<std::u16string> paths; // the index keeps views of them
    bool prefilterReady = library.size() >= c.learnAt;
    if (c.build == Build::InStep) {
        for (std::size_t i = 0; i < library.size(); ++i) {
            paths.push_back(u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
            index.append(paths.back(), library[i]);
        }
    } else {
        prefilterReady = appendOnDemand(index, library, paths, 130, 37, c.build == Build::OnDemand);
    }
    std::size_t narrowed = 0;
    std::size_t reported = 0;
    for (const float threshold : {0.3f, 0.5f, 0.6f, 0.75f, 0.9f, 0.99f}) {
        const PairScorer scorer(ruleAt(threshold, c.byContent, c.byTags, c.verify));
        std::vector<std::uint32_t> found;
        std::vector<std::uint32_t> content;
        for (std::size_t me = 0; me < library.size(); ++me) {
            std::size_t contentNamed = 0;
            const bool narrow = index.candidates(me, scorer, found, SIZE_MAX, &contentNamed);
            narrowed += narrow ? 1 : 0;
            const std::set<std::uint32_t> taken(found.begin(), found.end());
            ASSERT_EQ(taken.size(), found.size()) << "a candidate came twice";
            const std::set<std::uint32_t> named(found.begin(),
                                                found.begin() + std::min(contentNamed, found.size()));
            const bool prefiltered = index.contentCandidates(me, scorer, content);
            ASSERT_TRUE(std::is_sorted(content.begin(), content.end()));
            ASSERT_EQ(prefiltered, prefilterReady);
            for (std::size_t i = 0; i < me; ++i) {
                const auto p = static_cast<std::uint32_t>(i);
                const analysis::PreparedTrack mine = index.prepared(me);
                const analysis::PreparedTrack other = index.prepared(i);
                if (scorer.isContentCandidate(mine, other) && !scorer.decidedByPrints(mine, other)) {
                    // What the engine relies on when it leaves out the content bounds.
                    ASSERT_TRUE(!narrow || named.count(p) == 1) << me << "-" << i << " not named by content";
                    ASSERT_TRUE(!prefiltered || std::binary_search(content.begin(), content.end(), p))
                        << "threshold " << threshold << ": pair " << me << "-" << i
                        << " missed by the prefilter";
                }
                if (!scorer.isCandidate(mine, other)) {
                    continue;
                }
                analysis::PairScores scores;
                reported += scorer.score(library[me], library[i], scores) ? 1 : 0;
                ASSERT_TRUE(!narrow || taken.count(static_cast<std::uint32_t>(i)) == 1)
                    << "threshold " << threshold << ": pair " << me << "-" << i << " missed";
            }
            ASSERT_TRUE(std::all_of(found.begin(), found.end(), [&](std::uint32_t p) { return p < me; }));
            if (c.byTags) {
                expectTagCandidates(index, scorer, library, me, threshold);
            }
        }
    }
    EXPECT_GT(reported, 100u) << "the library should hold many pairs";
    EXPECT_GT(narrowed, library.size()) << "the indexes should narrow most searches";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CandidateSearch,
    ::testing::Values(RuleCase{"Content", true, false, false}, RuleCase{"Tags", false, true, false},
                      RuleCase{"TagsAndContent", true, true, false},
                      RuleCase{"ContentVerified", true, false, true},
                      RuleCase{"TagsAndContentVerified", true, true, true},
                      RuleCase{"ContentPrefiltered", true, false, false, 60},
                      // Steps of the bytes from a few tracks: most later values lie beyond them.
                      RuleCase{"ContentPrefilteredFromEightTracks", true, false, false, 8},
                      RuleCase{"TagsAndContentPrefiltered", true, true, false, 60},
                      RuleCase{"ContentVerifiedPrefiltered", true, false, true, 1},
                      RuleCase{"TagsAndContentVerifiedPrefiltered", true, true, true, 60},
                      RuleCase{"TagsAndContentOnDemand", true, true, false, 60, Build::OnDemand},
                      RuleCase{"TagsAndContentOnDemandAxesDueLater", true, true, false, 200, Build::OnDemand},
                      RuleCase{"TagsAndContentVerifiedOnDemand", true, true, true, 60, Build::OnDemand},
                      RuleCase{"TagsAndContentAxesPending", true, true, false, 60, Build::AxesPending},
                      RuleCase{"ContentVerifiedAxesPending", true, false, true, 60, Build::AxesPending}),
    [](const auto& p) { return std::string(p.param.name); });

// Joins that take forms worked out ahead (as a scan prepares them beside the other workers' searches)
// leave the index as joins that work everything out themselves do: forms made before the queries
// were built or before the axes came in are completed at the join, and forms made of another record
// or before a clear are not taken.
TEST(PreparedJoins, LeaveTheIndexAsJoinsThatWorkItAllOut) {
    const std::deque<TrackRecord> library = randomLibrary(7, 300);
    std::deque<std::u16string> paths;
    for (std::size_t i = 0; i < library.size(); ++i) {
        paths.push_back(u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
    }
    ScanIndex plain;
    ScanIndex ahead;
    ScanIndex::Prepared beforeClear = ahead.prepare(library[0]); // no prints kept then
    for (ScanIndex* index : {&plain, &ahead}) {
        index->clear(true, 60, true);
    }
    std::deque<ScanIndex::Prepared> made; // made[k] of library[k], some joins before it is taken
    std::optional<ScanIndex::AxesSample> sample;
    for (std::size_t i = 0; i < library.size(); ++i) {
        while (made.size() < std::min(library.size(), i + 1 + i % 4)) {
            made.push_back(ahead.prepare(library[made.size()]));
        }
        const ScanIndex::Prepared* taken = &made[i];
        if (i == 0) {
            taken = &beforeClear;
        } else if (i % 11 == 0) {
            taken = &made[i - 1]; // another track's
        }
        plain.append(paths[i], library[i]);
        ahead.append(paths[i], library[i], taken);
        if (i + 1 == 40) {
            plain.buildQueries();
            ahead.buildQueries();
        }
        if (auto s = plain.takeAxesSample()) {
            sample = std::move(s);
            ASSERT_TRUE(ahead.takeAxesSample().has_value());
        }
        if (sample && i == 90) {
            plain.installAxes(ScanIndex::learnAxes(*sample), sample->generation);
            ahead.installAxes(ScanIndex::learnAxes(*sample), plain.generation());
        }
    }
    ASSERT_TRUE(sample.has_value());
    for (const bool verify : {false, true}) {
        for (const float threshold : {0.5f, 0.75f, 0.9f}) {
            const PairScorer scorer(ruleAt(threshold, true, true, verify));
            std::vector<std::uint32_t> a;
            std::vector<std::uint32_t> b;
            for (std::size_t me = 0; me < library.size(); ++me) {
                ASSERT_EQ(plain.candidates(me, scorer, a, SIZE_MAX),
                          ahead.candidates(me, scorer, b, SIZE_MAX));
                ASSERT_EQ(std::set<std::uint32_t>(a.begin(), a.end()),
                          std::set<std::uint32_t>(b.begin(), b.end()))
                    << "threshold " << threshold << ", track " << me;
                ASSERT_EQ(plain.contentCandidates(me, scorer, a), ahead.contentCandidates(me, scorer, b));
                ASSERT_EQ(a, b) << "threshold " << threshold << ", track " << me;
            }
        }
    }
}

// A search that pauses between stretches of groups, while tracks keep joining (and the groups'
// arrays move), names what a search without pauses names; one ended at a pause names none.
TEST(ContentPrefilterSearch, PausedWhileTracksJoinNamesWhatAnUnpausedOneNames) {
    const std::deque<TrackRecord> library = randomLibrary(11, 400);
    std::vector<analysis::ContentKey> keys(library.size());
    std::vector<analysis::ContentSketch> sketches(library.size());
    ContentPrefilter whole;
    ContentPrefilter growing;
    for (ContentPrefilter* p : {&whole, &growing}) {
        p->clear(64, ContentPrefilter::Boxes::Always);
    }
    growing.pauseEvery(1);
    std::size_t added = 0;
    const auto addTo = [&](ContentPrefilter& p, std::size_t n) {
        analysis::makeContentKey(library[n], keys[n]);
        analysis::makeContentSketch(keys[n], sketches[n]);
        p.add({keys.data(), n + 1}, {sketches.data(), n + 1});
    };
    for (; added < 100; ++added) {
        addTo(growing, added);
    }
    for (std::size_t n = 0; n < library.size(); ++n) {
        addTo(whole, n);
    }
    std::size_t pauses = 0;
    const std::function<bool()> joinSome = [&] {
        ++pauses;
        for (std::size_t k = 0; k < 3 && added < library.size(); ++k, ++added) {
            addTo(growing, added);
        }
        return true;
    };
    std::vector<std::uint32_t> named;
    std::vector<std::uint32_t> expected;
    for (std::size_t me = 64; me < library.size(); me += 7) {
        for (const float t : {0.5f, 0.75f, 0.95f}) {
            named.clear();
            expected.clear();
            while (added <= me) {
                addTo(growing, added++);
            }
            ASSERT_TRUE(growing.query(
                me, t, me, [&](std::uint32_t p) { named.push_back(p); }, joinSome));
            ASSERT_TRUE(whole.query(me, t, me, [&](std::uint32_t p) { expected.push_back(p); }));
            ASSERT_EQ(named, expected) << "threshold " << t << ", track " << me;
        }
    }
    EXPECT_GT(pauses, 100u);
    std::size_t calls = 0;
    named.clear();
    EXPECT_FALSE(growing.query(
        library.size() - 1, 0.5f, library.size() - 1, [&](std::uint32_t p) { named.push_back(p); },
        [&] { return ++calls < 2; }));
    EXPECT_TRUE(named.empty());
}

enum class Songs {
    Mixed,            // near copies of some songs, unrelated ones, silence
    Clusters,         // a dozen songs, each many times over with a little noise
    Unrelated,        // every track its own song
    FirstOneSong,     // the axes and centres learned from copies of one song; the rest far from it
    ConstantAndBroken // silence, flat levels, values that are not numbers
};

struct PrefilterCase {
    const char* name;
    Songs songs;
};

TrackRecord noisyCopy(TrackRecord r, float strength, std::mt19937& rng) {
    std::normal_distribution<float> noise(0.0f, strength);
    analysis::editSpectrum(r, [&](auto& s) {
        for (float& v : s) {
            v *= 1.0f + noise(rng);
        }
    });
    for (float& v : r.levelProfile) {
        v *= 1.0f + noise(rng);
    }
    return r;
}

std::deque<TrackRecord> songsOf(Songs songs, std::size_t n, std::mt19937& rng) {
    std::deque<TrackRecord> library;
    std::vector<TrackRecord> pieces;
    for (int k = 0; k < 12; ++k) {
        pieces.push_back(analysis::realShapedRecord(rng));
    }
    if (songs == Songs::Mixed) {
        return randomLibrary(static_cast<unsigned>(rng()), n);
    }
    while (library.size() < n) {
        const std::size_t i = library.size();
        TrackRecord r = analysis::realShapedRecord(rng);
        if (songs == Songs::Clusters || (songs == Songs::FirstOneSong && i < 64)) {
            const std::size_t piece = songs == Songs::Clusters ? rng() % pieces.size() : 0;
            r = noisyCopy(pieces[piece], 0.002f * static_cast<float>(1 + rng() % 25), rng);
        } else if (songs == Songs::ConstantAndBroken && rng() % 2 == 0) {
            switch (rng() % 4) {
            case 0:
                analysis::fillSpectrum(r, 0.5f);
                break;
            case 1:
                r.levelProfile.fill(0.2f);
                break;
            case 2:
                analysis::editSpectrum(
                    r, [&](auto& s) { s[rng() % s.size()] = std::numeric_limits<float>::quiet_NaN(); });
                break;
            default:
                r.sectionCorrelations.fill(1.0f);
                break;
            }
        }
        library.push_back(std::move(r));
    }
    return library;
}

class PrefilterGroups : public ::testing::TestWithParam<PrefilterCase> {};

// The prefilter with its tracks in groups, every group bounded as a whole, names every earlier track
// whose content key reaches the floor, in order and only before `below`, at every threshold, while the
// tracks keep joining one at a time after the centres were learned. On a library of a few songs many
// times over the groups must also spare most of the reading.
TEST_P(PrefilterGroups, NameEveryTrackTheAllPairsLoopWouldScore) {
    const PrefilterCase& c = GetParam();
    std::mt19937 rng(static_cast<unsigned>(c.songs) + 40);
    const std::deque<TrackRecord> library = songsOf(c.songs, 360, rng);
    std::vector<analysis::ContentKey> keys(library.size());
    std::vector<analysis::ContentSketch> sketches(library.size());
    ContentPrefilter prefilter;
    prefilter.clear(64, ContentPrefilter::Boxes::Always);
    const float thresholds[] = {0.0f, 0.3f, 0.6f, 0.75f, 0.9f, 0.99f, 1.0f};
    std::uint64_t earlier = 0;
    std::vector<std::uint32_t> named;
    for (std::size_t me = 0; me < library.size(); ++me) {
        analysis::makeContentKey(library[me], keys[me]);
        analysis::makeContentSketch(keys[me], sketches[me]);
        prefilter.add({keys.data(), me + 1}, {sketches.data(), me + 1});
        if (!prefilter.ready()) {
            continue;
        }
        const std::size_t below = me % 5 == 0 ? me / 2 : me; // some queries against the first tracks only
        for (const float t : thresholds) {
            named.clear();
            prefilter.query(me, t, below, [&](std::uint32_t p) { named.push_back(p); });
            earlier += below;
            ASSERT_TRUE(std::is_sorted(named.begin(), named.end()) &&
                        std::adjacent_find(named.begin(), named.end()) == named.end());
            ASSERT_TRUE(named.empty() || named.back() < below) << me << " below " << below;
            for (std::size_t i = 0; i < below; ++i) {
                if (analysis::compareContent(keys[me], keys[i]) >= t) {
                    ASSERT_TRUE(std::binary_search(named.begin(), named.end(), static_cast<std::uint32_t>(i)))
                        << "threshold " << t << ": pair " << me << "-" << i << " missed";
                }
            }
        }
    }
    ASSERT_GT(prefilter.groups(), 1u);
    if (c.songs == Songs::Clusters) {
        EXPECT_LT(prefilter.reads().tracks, earlier * 3 / 5) << "groups of copies should be skipped";
    }
}

INSTANTIATE_TEST_SUITE_P(Libraries, PrefilterGroups,
                         ::testing::Values(PrefilterCase{"Mixed", Songs::Mixed},
                                           PrefilterCase{"CopiesOfADozenSongs", Songs::Clusters},
                                           PrefilterCase{"UnrelatedSongs", Songs::Unrelated},
                                           PrefilterCase{"LearnedFromOneSong", Songs::FirstOneSong},
                                           PrefilterCase{"ConstantAndBroken", Songs::ConstantAndBroken}),
                         [](const auto& p) { return std::string(p.param.name); });

// Tracks with texts of their own leave the tag index only a few candidates to name. (A group that most
// texts share, such as " - " in file names, makes it give up instead; the loop then does the work.)
// The prefilter names a pair at a threshold equal to its own content score, so near copies, whose
// bound has little to spare, test that what the stored form rounds away is allowed for.
TEST(ContentPrefilterSearch, NamesEveryPairAtItsOwnScore) {
    const std::deque<TrackRecord> library = randomLibrary(17, 300);
    ScanIndex index;
    index.clear(false, 40);
    std::deque<std::u16string> paths; // the index keeps views of them
    for (const TrackRecord& r : library) {
        paths.push_back(u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + paths.size() % 26)));
        index.append(paths.back(), r);
    }
    std::size_t nearCopies = 0;
    std::vector<std::uint32_t> named;
    for (std::size_t me = 40; me < library.size(); ++me) {
        for (std::size_t i = 0; i < me; ++i) {
            PairScorer::Rule rule;
            rule.byContent = true;
            rule.contentThreshold = analysis::compareContent(library[me], library[i]);
            nearCopies += rule.contentThreshold > 0.9f ? 1 : 0;
            ASSERT_TRUE(index.contentCandidates(me, PairScorer(rule), named));
            ASSERT_TRUE(std::binary_search(named.begin(), named.end(), static_cast<std::uint32_t>(i)))
                << me << "-" << i << " at its score " << rule.contentThreshold;
        }
    }
    EXPECT_GT(nearCopies, 20u) << "the library should hold near copies";
}

// Until the structures the queries read are built, a query must not narrow the search from what they
// hold of the tracks so far (nothing, or an old scan's axes): it says it cannot, and the loop goes
// through every earlier track.
TEST(CandidateSearchOnDemand, QueriesBeforeTheBuildDoNotNarrow) {
    const std::deque<TrackRecord> library = randomLibrary(23, 120);
    ScanIndex index;
    index.clear(false, 40, true);
    for (const TrackRecord& r : library) {
        index.append(u"/m/x", r);
    }
    EXPECT_FALSE(index.queriesReady());
    EXPECT_FALSE(index.takeAxesSample().has_value()) << "no axes for structures not built";
    PairScorer::Rule rule;
    rule.byContent = rule.byTags = true;
    rule.contentThreshold = rule.tagsThreshold = 0.75f;
    const PairScorer scorer(rule);
    std::vector<std::uint32_t> out;
    for (std::size_t me = 1; me < library.size(); me += 17) {
        EXPECT_FALSE(index.candidates(me, scorer, out, SIZE_MAX)) << me;
        EXPECT_FALSE(index.tagCandidates(me, scorer, out, SIZE_MAX)) << me;
        EXPECT_FALSE(index.contentCandidates(me, scorer, out)) << me;
    }

    // Axes learned for a scan that was cleared meanwhile are not installed into the next.
    index.clear(false, 40, true);
    for (const TrackRecord& r : library) {
        index.append(u"/m/x", r);
    }
    index.buildQueries();
    std::optional<ScanIndex::AxesSample> old = index.takeAxesSample();
    ASSERT_TRUE(old.has_value());
    index.clear(false, 40, true);
    for (std::size_t i = 0; i < 60; ++i) {
        index.append(u"/m/x", library[i]);
    }
    index.buildQueries();
    index.installAxes(ScanIndex::learnAxes(*old), old->generation);
    EXPECT_FALSE(index.contentCandidates(59, scorer, out));
    ASSERT_TRUE(index.takeAxesSample().has_value()) << "this scan's own sample is still due";
}

TEST(CandidateSearchNarrowing, DistinctTextsGiveFewCandidates) {
    std::mt19937 rng(3);
    const auto word = [&] {
        std::u16string w;
        for (int i = 0; i < 7; ++i) {
            w.push_back(static_cast<char16_t>(u'a' + rng() % 26));
        }
        return w;
    };
    std::deque<TrackRecord> library;
    ScanIndex index;
    for (int i = 0; i < 400; ++i) {
        TrackRecord r = analysis::realShapedRecord(rng);
        r.titleText = word() + u" " + word();
        r.artistText = word();
        r.nameText = word() + word();
        library.push_back(std::move(r));
        index.append(u"/m/x", library.back());
    }
    PairScorer::Rule rule;
    rule.byTags = true;
    rule.tagsThreshold = 0.75f;
    const PairScorer scorer(rule);
    std::size_t found = 0;
    std::vector<std::uint32_t> out;
    for (std::size_t me = 0; me < library.size(); ++me) {
        ASSERT_TRUE(index.candidates(me, scorer, out, SIZE_MAX));
        found += out.size();
    }
    EXPECT_LT(found, library.size() * library.size() / 20);
}

// A library of songs with prints of their own and copies whose prints start later and lost some of
// their bits, with fingerprints and texts of their own (as a mono or resampled copy has): with
// verification the print index names exactly the earlier tracks whose prints share words with a new
// one's, so every planted copy is a candidate whatever its content score, and nothing else is.
TEST(PrintCandidates, NameExactlyThePrintsThatShareWords) {
    std::mt19937 rng(8);
    std::deque<TrackRecord> library;
    std::vector<std::size_t> copyOf;
    ScanIndex index;
    index.clear(true);
    for (std::size_t i = 0; i < 400; ++i) {
        TrackRecord r = analysis::realShapedRecord(rng);
        giveTexts(r, rng);
        copyOf.push_back(SIZE_MAX);
        const std::size_t of = i > 0 && rng() % 3 == 0 ? rng() % i : SIZE_MAX;
        if (of != SIZE_MAX && !library[of].acousticPrint.empty()) {
            // A copy: up to 2 s later, each bit flipped with a chance of up to 4 %.
            const auto& original = library[of].acousticPrint;
            r.acousticPrint.assign(original.begin() + static_cast<std::ptrdiff_t>(rng() % 16),
                                   original.end());
            const unsigned perMille = rng() % 40;
            for (auto& w : r.acousticPrint) {
                for (int b = 0; b < 32; ++b) {
                    w ^= rng() % 1000 < perMille ? 1u << b : 0u;
                }
            }
            copyOf.back() = of;
        } else if (rng() % 8 != 0) {
            r.acousticPrint.resize(300);
            for (auto& w : r.acousticPrint) {
                w = static_cast<std::uint32_t>(rng());
            }
        }
        library.push_back(std::move(r));
        index.append(u"/m/x", library.back());
    }
    PairScorer::Rule rule;
    rule.byContent = true;
    rule.verify = true;
    rule.contentThreshold = 0.75f;
    rule.acousticThreshold = 0.5f;
    const PairScorer scorer(rule);
    std::vector<std::uint32_t> out;
    std::size_t copiesFound = 0;
    std::size_t copies = 0;
    for (std::size_t me = 0; me < library.size(); ++me) {
        // Even with no budget at all: the print index never gives up.
        if (!index.candidates(me, scorer, out, 0)) {
            ASSERT_TRUE(library[me].acousticPrint.empty());
            continue;
        }
        const std::set<std::uint32_t> taken(out.begin(), out.end());
        for (std::size_t i = 0; i < me; ++i) {
            const bool candidate = scorer.isCandidate(index.prepared(me), index.prepared(i));
            const bool bothPrinted = !library[me].acousticPrint.empty() && !library[i].acousticPrint.empty();
            const bool shared =
                analysis::printsShareWords(library[me].acousticPrint, library[i].acousticPrint);
            if (bothPrinted) {
                ASSERT_EQ(taken.count(static_cast<std::uint32_t>(i)), shared ? 1u : 0u) << me << "-" << i;
            }
            ASSERT_TRUE(!candidate || taken.count(static_cast<std::uint32_t>(i)) == 1) << me << "-" << i;
        }
        if (copyOf[me] != SIZE_MAX) {
            ++copies;
            copiesFound += taken.count(static_cast<std::uint32_t>(copyOf[me]));
        }
    }
    EXPECT_GT(copies, 100u);
    EXPECT_EQ(copiesFound, copies);
}

// An untagged file named after a song is compared by its name with the tagged copy's title and
// artist; the tag index must list names for that, though names otherwise meet only names.
TEST(CandidateSearchNarrowing, UntaggedFileFoundByItsName) {
    std::mt19937 rng(9);
    std::deque<TrackRecord> library;
    ScanIndex index;
    const auto add = [&](const std::u16string& title, const std::u16string& artist,
                         const std::u16string& name) {
        TrackRecord r = analysis::realShapedRecord(rng);
        r.titleText = title;
        r.artistText = artist;
        r.nameText = name;
        library.push_back(std::move(r));
        index.append(u"/m/x", library.back());
    };
    add(u"midnight train", u"", u"track 01");
    for (int i = 0; i < 40; ++i) {
        add(u"song " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)), u"band", u"file");
    }
    add(u"", u"", u"midnight train");
    PairScorer::Rule rule;
    rule.byTags = true;
    rule.tagsThreshold = 0.75f;
    const PairScorer scorer(rule);
    ASSERT_GE(analysis::compareTags(library.back(), library.front()), rule.tagsThreshold);
    std::vector<std::uint32_t> out;
    ASSERT_TRUE(index.candidates(library.size() - 1, scorer, out, SIZE_MAX));
    EXPECT_NE(std::find(out.begin(), out.end(), 0u), out.end());
    EXPECT_LT(out.size(), 10u);
}

// The distinct runs of q units of a text, and its shape.
std::set<std::u16string> runsOf(const std::u16string& x, std::size_t q, analysis::RunShape& shape) {
    std::set<std::u16string> found;
    for (std::size_t i = 0; i + q <= x.size(); ++i) {
        found.insert(x.substr(i, q));
    }
    shape = {x.size(), x.size() >= q ? x.size() - q + 1 - found.size() : 0, q};
    return found;
}

std::size_t sharedRuns(const std::set<std::u16string>& a, const std::set<std::u16string>& b) {
    std::size_t shared = 0;
    for (const auto& r : a) {
        shared += b.count(r);
    }
    return shared;
}

// A query text x and another text y with their runs of two and three units, and x's plan at a
// threshold, made once per shape.
struct PlannedPair {
    std::set<std::u16string> px, tx, py, ty;
    const TagIndex::Plan* plan = nullptr;
    bool isShort = false;
    // Whether y would be indexed by its runs (not read whole).
    bool indexed = false;
};

using PlanCache = std::map<std::tuple<float, std::size_t, std::size_t, std::size_t>, TagIndex::Plan>;

PlannedPair plannedPair(const std::u16string& x, const std::u16string& y, float t, PlanCache& plans) {
    PlannedPair p;
    analysis::RunShape x2, x3, y2, y3;
    p.px = runsOf(x, 2, x2);
    p.tx = runsOf(x, 3, x3);
    p.py = runsOf(y, 2, y2);
    p.ty = runsOf(y, 3, y3);
    const auto key = std::make_tuple(t, x.size(), x2.repeats, x3.repeats);
    if (plans.count(key) == 0) {
        plans[key] = TagIndex::planFor(x2, x3, t);
    }
    p.plan = &plans[key];
    p.isShort = y.size() <= TagIndex::kShortLength;
    p.indexed = y.size() <= TagIndex::kLongest && y3.repeats <= TagIndex::repeatCap(y.size()) &&
                (!p.isShort || y2.repeats <= TagIndex::repeatCap(y.size()));
    return p;
}

// The reasoning behind the tag index: a text that likens another at least as much as the threshold
// is either read whole by length, or shares at least the runs the plan reads for. Texts from a tiny
// alphabet share and repeat runs by chance and score high, which is where a wrong plan would show.
TEST(TagIndexLengths, TextsReachingTheThresholdShareWhatThePlanSays) {
    std::mt19937 rng(5);
    const auto text = [&](std::size_t length) {
        std::u16string s;
        for (std::size_t i = 0; i < length; ++i) {
            s.push_back(static_cast<char16_t>(u'a' + rng() % 4));
        }
        return s;
    };
    // Near copies (a unit changed, dropped or added) score high; unrelated texts now and then.
    const auto edited = [&](std::u16string y) {
        for (std::size_t edits = rng() % 3; edits-- > 0 && !y.empty();) {
            const std::size_t at = rng() % y.size();
            switch (rng() % 3) {
            case 0:
                y[at] = static_cast<char16_t>(u'a' + rng() % 4);
                break;
            case 1:
                y.erase(at, 1);
                break;
            default:
                y.insert(at, 1, u'x');
            }
        }
        return y;
    };
    PlanCache plans;
    std::size_t checked = 0;
    for (const float t : {0.3f, 0.5f, 0.7f, 0.75f, 0.9f}) {
        for (int k = 0; k < 6000; ++k) {
            const std::u16string x = text(1 + rng() % 24);
            const std::u16string y = k % 2 == 0 ? edited(x) : text(1 + rng() % 24);
            const PlannedPair pair = plannedPair(x, y, t, plans);
            const TagIndex::Plan& plan = *pair.plan;
            if (!plan.narrows || !pair.indexed || analysis::textLikeness(x, y) < t) {
                continue;
            }
            ++checked;
            const std::string at = "threshold " + std::to_string(t) + ": " + std::to_string(x.size()) +
                                   " against " + std::to_string(y.size());
            if (!pair.isShort) {
                ASSERT_GE(sharedRuns(pair.tx, pair.ty), plan.triples) << at;
                ASSERT_GE(sharedRuns(pair.tx, pair.ty), plan.triplesByBand[TagIndex::bandOf(y.size())]) << at;
                continue;
            }
            ASSERT_NE(plan.pairsByLength[y.size()], TagIndex::kNone) << at;
            ASSERT_NE(plan.triplesByLength[y.size()], TagIndex::kNone) << at;
            ASSERT_GE(sharedRuns(pair.px, pair.py), plan.pairsByLength[y.size()]) << at;
            ASSERT_GE(sharedRuns(pair.tx, pair.ty), plan.triplesByLength[y.size()]) << at;
        }
    }
    EXPECT_GT(checked, 2000u);
}

// Together with the likeness bound's own test, this proves the plan: no indexed shape of text reaches
// the threshold with fewer shared runs than the plan reads for.
TEST(TagIndexLengths, PlanCoversEveryIndexedShape) {
    for (const float t : {0.4f, 0.75f, 0.95f}) {
        for (const std::size_t n : {4u, 9u, 14u, 40u}) {
            const analysis::RunShape x2{n, n / 5, 2};
            const analysis::RunShape x3{n, n / 6, 3};
            const TagIndex::Plan plan = TagIndex::planFor(x2, x3, t);
            ASSERT_TRUE(plan.narrows || t < 0.5f);
            if (!plan.narrows) {
                continue; // the query reads every track
            }
            for (std::size_t length = 1; length <= TagIndex::kLongest; ++length) {
                const bool isShort = length <= TagIndex::kShortLength;
                for (const std::size_t q : {std::size_t{2}, std::size_t{3}}) {
                    const std::size_t needed =
                        !isShort ? (q == 3 ? plan.triplesByBand[TagIndex::bandOf(length)] : 0)
                                 : (q == 2 ? plan.pairsByLength[length] : plan.triplesByLength[length]);
                    const analysis::RunShape& x = q == 2 ? x2 : x3;
                    const std::size_t starts = length >= q ? length - q + 1 : 0;
                    for (std::size_t repeats = 0; repeats <= std::min(TagIndex::repeatCap(length), starts);
                         ++repeats) {
                        // No pair shares more runs than either text has.
                        const std::size_t possible = std::min(n - q + 1 - x.repeats, starts - repeats) + 1;
                        for (std::size_t shared = 0; shared < std::min(needed, possible); ++shared) {
                            ASSERT_LT(analysis::likenessWithSharedRuns(x, {length, repeats, q}, shared), t)
                                << n << " against " << length << " with " << repeats << " repeats";
                        }
                    }
                }
            }
        }
    }
}

// What a query reads from a track's entries: the likeness the plan allows for the runs two texts share,
// by the length class of the indexed text and the kind of run that class is read by, is never below
// their likeness. Near copies give high likenesses with a few runs missing, where a table that forgot
// a shape or rounded down would show.
TEST(TagIndexLengths, LikenessBySharedRunsBoundsTheLikeness) {
    std::mt19937 rng(8);
    const auto text = [&](std::size_t length) {
        std::u16string s;
        for (std::size_t i = 0; i < length; ++i) {
            s.push_back(static_cast<char16_t>(u'a' + rng() % 5));
        }
        return s;
    };
    const auto edited = [&](std::u16string y) {
        for (std::size_t edits = 1 + rng() % 2; edits-- > 0 && !y.empty();) {
            const std::size_t at = rng() % y.size();
            if (rng() % 2 == 0) {
                y.erase(at, 1 + rng() % 3);
            } else {
                y.insert(at, 1 + rng() % 3, u'x');
            }
        }
        return y;
    };
    PlanCache plans;
    std::size_t narrowing = 0; // checks where the table said less than 1
    for (const float t : {0.3f, 0.58f, 0.75f}) {
        for (int k = 0; k < 5000; ++k) {
            const std::u16string x = text(1 + rng() % 40);
            const std::u16string y = k % 3 != 0 ? edited(x) : text(1 + rng() % 40);
            const PlannedPair pair = plannedPair(x, y, t, plans);
            const TagIndex::Plan& plan = *pair.plan;
            if (!plan.narrows || !pair.indexed || y.empty()) {
                continue;
            }
            const float likeness = analysis::textLikeness(x, y);
            const auto check = [&](const TagIndex::LikenessByShared& table, std::size_t shared) {
                if (table.empty()) {
                    return; // the class is not read by this kind of run
                }
                const std::uint8_t most = table[std::min(shared, table.size() - 1)];
                narrowing += most < 255 ? 1 : 0;
                ASSERT_GE(TagIndex::likenessOfByte(most), likeness)
                    << "threshold " << t << ": " << x.size() << " against " << y.size() << " sharing "
                    << shared;
            };
            if (pair.isShort) {
                check(plan.pairLikeness[y.size()], sharedRuns(pair.px, pair.py));
                check(plan.tripleLikeness[y.size()], sharedRuns(pair.tx, pair.ty));
            } else {
                check(plan.tripleLikeness[TagIndex::bandClass(TagIndex::bandOf(y.size()))],
                      sharedRuns(pair.tx, pair.ty));
            }
        }
    }
    EXPECT_GT(narrowing, 3000u);
}

TEST(TagIndexLengths, LikenessBytesRoundUp) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int k = 0; k < 100000; ++k) {
        // Whole steps of the byte as well, where a rounding in float could land a hair under.
        const float x = k % 2 == 0 ? u(rng) : static_cast<float>(rng() % 256) / 255.0f;
        const float back = TagIndex::likenessOfByte(TagIndex::likenessByte(x));
        ASSERT_GE(back, x);
        ASSERT_LE(back, x + 1.0f / 255.0f + 1e-6f);
    }
    EXPECT_EQ(TagIndex::likenessOfByte(TagIndex::likenessByte(1.0f)), 1.0f);
    EXPECT_EQ(TagIndex::likenessOfByte(TagIndex::likenessByte(0.0f)), 0.0f);
}

// Long texts need most of their runs in common at usual thresholds, so a query reads few lists.
TEST(TagIndexLengths, LongTextsReadFewLists) {
    const TagIndex::Plan plan = TagIndex::planFor({30, 0, 2}, {30, 0, 3}, 0.75f);
    ASSERT_TRUE(plan.narrows);
    EXPECT_GE(plan.triples, 14u) << "of 28 runs";
    // Texts of other lengths than the query's need more in common, and far longer ones cannot reach it.
    EXPECT_GT(plan.triplesByBand[TagIndex::bandOf(50)], plan.triplesByBand[TagIndex::bandOf(30)]);
    EXPECT_EQ(plan.triplesByBand[TagIndex::bandOf(TagIndex::kLongest)], TagIndex::kNone);
    EXPECT_EQ(plan.pairsByLength[3], TagIndex::kNone) << "a text of 3 units is far from one of 30";
    EXPECT_FALSE(TagIndex::planFor({30, 0, 2}, {30, 0, 3}, 0.05f).narrows);
    // A text shorter than a run is alike to long texts made of its own units: the lists cannot tell.
    EXPECT_FALSE(TagIndex::planFor({2, 0, 2}, {2, 0, 3}, 0.9f).narrows);
}

} // namespace
} // namespace tonemirror::engine
