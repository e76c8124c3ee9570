#include "engine/TagIndex.h"
#include "analysis/PairScorer.h"
#include "analysis/TagComparison.h"
#include "engine/ScanIndex.h"
#include "support/RealShapedRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace tonemirror::engine {
namespace {

using analysis::PairScorer;
using analysis::TrackRecord;

// Few and short words, so that texts share runs and reach every likeness by chance.
const char16_t* const kWords[] = {u"love", u"lovers",  u"night", u"a",      u"go",       u"run",
                                  u"sky",  u"skyline", u"echo",  u"velvet", u"midnight", u"on"};

std::u16string words(std::mt19937& rng, int count) {
    std::u16string s;
    for (int i = 0; i < count; ++i) {
        s += (i > 0 ? u" " : u"") + std::u16string(kWords[rng() % std::size(kWords)]);
    }
    return s;
}

struct LibraryCase {
    const char* name;
    unsigned seed;
    int artists;      // how many artists the tracks share (0: every artist made of random words)
    int missingEvery; // one track in this many loses texts (title, artist, both, album or name)
    int copiesEvery;  // one track in this many is an earlier one with a few texts changed
};

// Texts as a collection has them: artists shared by many tracks, look-alike titles, title and artist
// swapped, texts missing with the file name holding them, copies with a remark added.
TrackRecord nextTrack(const LibraryCase& c, const std::deque<TrackRecord>& earlier,
                      const std::vector<std::u16string>& artists, std::mt19937& rng) {
    TrackRecord r = analysis::realShapedRecord(rng);
    if (!earlier.empty() && rng() % c.copiesEvery == 0) {
        const TrackRecord& original = earlier[rng() % earlier.size()];
        r.titleText = original.titleText + (rng() % 2 == 0 ? u" (live)" : u"");
        r.artistText = original.artistText;
        r.albumText = rng() % 2 == 0 ? original.albumText : words(rng, 2);
        r.nameText = original.nameText;
    } else {
        r.titleText = words(rng, 1 + static_cast<int>(rng() % 3));
        r.artistText =
            artists.empty() ? words(rng, 1 + static_cast<int>(rng() % 2)) : artists[rng() % artists.size()];
        r.albumText = rng() % 3 == 0 ? u"" : words(rng, 2);
        r.nameText = rng() % 2 == 0 ? r.artistText + u" - " + r.titleText : r.titleText;
    }
    if (rng() % 5 == 0) {
        std::swap(r.titleText, r.artistText);
    }
    if (rng() % c.missingEvery == 0) {
        switch (rng() % 6) {
        case 0:
            r.titleText.clear();
            break;
        case 1:
            r.artistText.clear();
            break;
        case 2: // untagged: the file name says it all
            r.nameText = r.artistText + u" " + r.titleText;
            r.titleText.clear();
            r.artistText.clear();
            break;
        case 3:
            r.albumText.clear();
            break;
        case 4:
            r.nameText.clear();
            break;
        default:
            r.artistText = r.artistText.substr(0, 1 + rng() % 2);
            break;
        }
    }
    return r;
}

std::deque<TrackRecord> library(const LibraryCase& c, std::size_t n) {
    std::mt19937 rng(c.seed);
    std::vector<std::u16string> artists;
    for (int i = 0; i < c.artists; ++i) {
        artists.push_back(words(rng, 1 + i % 2));
    }
    std::deque<TrackRecord> tracks;
    while (tracks.size() < n) {
        tracks.push_back(nextTrack(c, tracks, artists, rng));
    }
    return tracks;
}

class TagIndexExact : public ::testing::TestWithParam<LibraryCase> {};

// For every threshold and budget the query names every earlier track whose tag score reaches the
// threshold (when it narrows at all), each once; and the scan's candidates, by tags alone and by tags
// and content, hold every pair the scorer reports.
TEST_P(TagIndexExact, NamesEveryPairReachingTheThreshold) {
    const std::deque<TrackRecord> tracks = library(GetParam(), 260);
    TagIndex tags;
    ScanIndex scan;
    scan.clear(false, 64);
    std::deque<std::u16string> paths;
    std::vector<std::vector<float>> scores(tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        tags.add(static_cast<std::uint32_t>(i), tracks[i]);
        paths.push_back(u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
        scan.append(paths.back(), tracks[i]);
        for (std::size_t j = 0; j < i; ++j) {
            scores[i].push_back(analysis::compareTags(tracks[i], tracks[j]));
        }
    }
    std::size_t reaching = 0;
    std::size_t queries = 0;
    std::size_t narrowed = 0;
    std::size_t named = 0;
    for (const float threshold : {0.3f, 0.45f, 0.6f, 0.7f, 0.75f, 0.8f, 0.9f, 1.0f}) {
        for (std::size_t me = 1; me < tracks.size(); ++me) {
            for (const std::size_t budget : {SIZE_MAX, me / 4, me / 32}) {
                std::vector<std::uint32_t> found;
                const bool narrow = tags.query(tracks[me], threshold - PairScorer::kTagsIndexMargin,
                                               static_cast<std::uint32_t>(me), budget,
                                               [&](std::uint32_t p) { found.push_back(p); });
                ++queries;
                if (!narrow) {
                    ASSERT_TRUE(found.empty());
                    continue;
                }
                ++narrowed;
                named += found.size();
                const std::set<std::uint32_t> unique(found.begin(), found.end());
                ASSERT_EQ(unique.size(), found.size()) << "a track named twice";
                ASSERT_TRUE(unique.empty() || *unique.rbegin() < me);
                for (std::size_t i = 0; i < me; ++i) {
                    if (scores[me][i] >= threshold) {
                        reaching += budget == SIZE_MAX ? 1 : 0;
                        ASSERT_EQ(unique.count(static_cast<std::uint32_t>(i)), 1u)
                            << "threshold " << threshold << ", budget " << budget << ": pair " << me << "-"
                            << i << " (score " << scores[me][i] << ") missed";
                    }
                }
            }
        }
    }
    EXPECT_GT(reaching, 500u) << "the library should hold many pairs";
    // Words of one or two letters and low thresholds make many searches give up.
    EXPECT_GT(narrowed, queries / 6) << "the index should narrow many searches";
    EXPECT_LT(named, narrowed * tracks.size() / 3) << "the index should leave out most tracks";

    for (const std::int32_t methods : {1, 3}) {
        for (const float threshold : {0.5f, 0.75f, 0.9f}) {
            PairScorer::Rule rule;
            rule.byTags = true;
            rule.byContent = methods == 3;
            rule.tagsThreshold = rule.contentThreshold = threshold;
            const PairScorer scorer(rule);
            std::vector<std::uint32_t> out;
            for (std::size_t me = 1; me < tracks.size(); ++me) {
                if (!scan.candidates(me, scorer, out, me / 4)) {
                    continue;
                }
                const std::set<std::uint32_t> taken(out.begin(), out.end());
                for (std::size_t i = 0; i < me; ++i) {
                    analysis::PairScores s;
                    if (scorer.isCandidate(scan.prepared(me), scan.prepared(i)) &&
                        scorer.score(tracks[me], tracks[i], s)) {
                        ASSERT_EQ(taken.count(static_cast<std::uint32_t>(i)), 1u)
                            << "methods " << methods << ", threshold " << threshold << ": pair " << me << "-"
                            << i << " reported by all pairs, not a candidate";
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Libraries, TagIndexExact,
                         ::testing::Values(LibraryCase{"SharedArtists", 11, 6, 4, 4},
                                           LibraryCase{"OwnArtists", 12, 0, 4, 3},
                                           LibraryCase{"MostTextsMissing", 13, 8, 1, 3},
                                           LibraryCase{"FewCopies", 14, 30, 6, 20}),
                         [](const auto& p) { return std::string(p.param.name); });

// A query that pauses between its groups of lists, while tracks keep joining (and new lists come),
// names what a query without pauses names; one ended at a pause names none.
TEST(TagIndexPauses, PausedWhileTracksJoinNamesWhatAnUnpausedQueryNames) {
    const std::deque<TrackRecord> tracks = library(LibraryCase{"SharedArtists", 21, 6, 4, 4}, 300);
    TagIndex whole;
    TagIndex growing;
    growing.pauseEvery(1);
    std::uint32_t added = 0;
    for (; added < 50; ++added) {
        growing.add(added, tracks[added]);
    }
    for (std::uint32_t i = 0; i < tracks.size(); ++i) {
        whole.add(i, tracks[i]);
    }
    std::size_t pauses = 0;
    const std::function<bool()> joinSome = [&] {
        ++pauses;
        for (int k = 0; k < 2 && added < tracks.size(); ++k, ++added) {
            growing.add(added, tracks[added]);
        }
        return true;
    };
    for (std::uint32_t me = 50; me < tracks.size(); me += 3) {
        for (const float threshold : {0.45f, 0.75f}) {
            while (added <= me) {
                growing.add(added, tracks[added]);
                ++added;
            }
            std::vector<std::uint32_t> named;
            std::vector<std::uint32_t> expected;
            const bool narrowed = growing.query(
                tracks[me], threshold, me, SIZE_MAX, [&](std::uint32_t p) { named.push_back(p); }, joinSome);
            ASSERT_EQ(narrowed, whole.query(tracks[me], threshold, me, SIZE_MAX,
                                            [&](std::uint32_t p) { expected.push_back(p); }));
            std::sort(named.begin(), named.end());
            std::sort(expected.begin(), expected.end());
            ASSERT_EQ(named, expected) << "threshold " << threshold << ", track " << me;
        }
    }
    EXPECT_GT(pauses, 100u);
    std::vector<std::uint32_t> named;
    std::size_t calls = 0;
    EXPECT_FALSE(growing.query(
        tracks.back(), 0.45f, static_cast<std::uint32_t>(tracks.size() - 1), SIZE_MAX,
        [&](std::uint32_t p) { named.push_back(p); }, [&] { return ++calls < 2; }));
    EXPECT_TRUE(named.empty());
    EXPECT_EQ(calls, 2u);
}

// Tracks of one artist share the artist and the start of their file names ("artist - title"), so they
// are named for two parts; how many runs their names share shows that the names are far from alike,
// and only the copy of the query track is left.
TEST(TagIndexNarrows, TracksOfOneArtistWithOtherTitles) {
    std::mt19937 rng(31);
    const auto word = [&] {
        std::u16string w;
        for (int i = 0; i < 5; ++i) {
            w.push_back(static_cast<char16_t>(u'a' + rng() % 26));
        }
        return w;
    };
    std::deque<TrackRecord> tracks;
    TagIndex index;
    const auto add = [&](const std::u16string& title, const std::u16string& album) {
        TrackRecord r = analysis::realShapedRecord(rng);
        r.titleText = title;
        r.artistText = u"the midnight riders";
        r.albumText = album;
        r.nameText = r.artistText + u" - " + r.titleText;
        tracks.push_back(std::move(r));
        index.add(static_cast<std::uint32_t>(tracks.size() - 1), tracks.back());
    };
    add(u"velvet morning", u"first light");
    for (int i = 0; i < 200; ++i) {
        add(word() + u" " + word(), word() + u" " + word());
    }
    add(u"velvet morning", u"best of");
    const float threshold = 0.75f;
    ASSERT_GE(analysis::compareTags(tracks.back(), tracks.front()), threshold);
    std::vector<std::uint32_t> found;
    ASSERT_TRUE(index.query(tracks.back(), threshold - PairScorer::kTagsIndexMargin,
                            static_cast<std::uint32_t>(tracks.size() - 1), SIZE_MAX,
                            [&](std::uint32_t p) { found.push_back(p); }));
    EXPECT_NE(std::find(found.begin(), found.end(), 0u), found.end());
    EXPECT_LT(found.size(), 10u);
}

// Near copies of long titles, of each band of lengths and at its edges, are named among tracks of the
// same lengths: each length is listed and read in its own band. The tracks have nothing but a title
// and the same text as artist, so that no other part can name the copy.
TEST(TagIndexNarrows, NearCopiesOfLongTitlesInEveryBand) {
    std::mt19937 rng(43);
    const auto textOf = [&](std::size_t length) {
        std::u16string t; // random letters, so that few runs repeat and every text is listed by runs
        for (std::size_t i = 0; i < length; ++i) {
            t.push_back(static_cast<char16_t>(u'a' + rng() % 26));
        }
        return t;
    };
    std::deque<TrackRecord> tracks;
    TagIndex index;
    std::vector<std::size_t> originals;
    for (const std::size_t length : {16u, 23u, 24u, 35u, 36u, 55u, 56u, 90u, 200u}) {
        for (int i = 0; i < 20; ++i) {
            TrackRecord r = analysis::realShapedRecord(rng);
            r.titleText = textOf(length);
            r.artistText = r.titleText;
            r.albumText.clear();
            r.nameText.clear();
            tracks.push_back(std::move(r));
            index.add(static_cast<std::uint32_t>(tracks.size() - 1), tracks.back());
        }
        originals.push_back(tracks.size() - 1 - rng() % 20);
    }
    const float threshold = 0.75f;
    for (const std::size_t original : originals) {
        TrackRecord copy = tracks[original];
        copy.titleText.back() = u'#'; // the last unit changed: most substrings stay
        copy.artistText = copy.titleText;
        ASSERT_GE(analysis::compareTags(copy, tracks[original]), threshold);
        std::vector<std::uint32_t> found;
        ASSERT_TRUE(index.query(copy, threshold - PairScorer::kTagsIndexMargin,
                                static_cast<std::uint32_t>(tracks.size()), SIZE_MAX,
                                [&](std::uint32_t p) { found.push_back(p); }));
        EXPECT_NE(std::find(found.begin(), found.end(), static_cast<std::uint32_t>(original)), found.end())
            << "a copy of a title of " << copy.titleText.size() << " units";
        EXPECT_LT(found.size(), 10u);
    }
}

struct ShortTextCase {
    const char* name;
    const char16_t* title;
    const char16_t* artist;
    const char16_t* album;
};

class TagIndexShortTexts : public ::testing::TestWithParam<ShortTextCase> {};

// A text of a unit or two says nothing through runs, but the other parts still do: the index looks
// the track up by them instead of giving up, and names its copy among some of the tracks that share
// the short text.
TEST_P(TagIndexShortTexts, OtherPartsNarrowTheSearch) {
    const ShortTextCase& c = GetParam();
    std::mt19937 rng(21);
    const auto word = [&] {
        std::u16string w;
        for (int i = 0; i < 6; ++i) {
            w.push_back(static_cast<char16_t>(u'a' + rng() % 26));
        }
        return w;
    };
    std::deque<TrackRecord> tracks;
    TagIndex index;
    const auto add = [&](TrackRecord r) {
        tracks.push_back(std::move(r));
        index.add(static_cast<std::uint32_t>(tracks.size() - 1), tracks.back());
    };
    TrackRecord original = analysis::realShapedRecord(rng);
    original.titleText = c.title;
    original.artistText = c.artist;
    original.albumText = c.album;
    original.nameText = original.artistText + u" - " + original.titleText;
    add(original);
    for (int i = 0; i < 300; ++i) {
        TrackRecord r = analysis::realShapedRecord(rng);
        r.titleText = word() + u" " + word();
        r.artistText = word();
        r.albumText = word();
        if (i % 3 == 0) { // the short text is common
            (c.title[1] == 0    ? r.titleText
             : c.artist[2] == 0 ? r.artistText
                                : r.albumText) = c.title[1] == 0    ? c.title
                                                 : c.artist[2] == 0 ? c.artist
                                                                    : c.album;
        }
        r.nameText = r.artistText + u" - " + r.titleText;
        add(std::move(r));
    }
    TrackRecord copy = original;
    copy.albumText = u"best of";
    add(copy);
    const float threshold = 0.75f;
    ASSERT_GE(analysis::compareTags(tracks.back(), tracks.front()), threshold);
    std::vector<std::uint32_t> found;
    ASSERT_TRUE(index.query(tracks.back(), threshold - PairScorer::kTagsIndexMargin,
                            static_cast<std::uint32_t>(tracks.size() - 1), SIZE_MAX,
                            [&](std::uint32_t p) { found.push_back(p); }));
    EXPECT_NE(std::find(found.begin(), found.end(), 0u), found.end());
    EXPECT_LT(found.size(), tracks.size() / 2) << "the search should leave out most tracks";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TagIndexShortTexts,
    ::testing::Values(ShortTextCase{"TwoLetterArtist", u"velvet morning", u"ab", u"first light"},
                      ShortTextCase{"OneLetterTitle", u"x", u"the midnight riders", u"first light"},
                      ShortTextCase{"TwoLetterAlbum", u"velvet morning", u"the midnight riders", u"ep"}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace tonemirror::engine
