#include "engine/ScanIndex.h"
#include "analysis/TextLikeness.h"
#include "engine/TagIndex.h"
#include "support/RealShapedRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <random>
#include <set>
#include <string>
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
            for (float& v : r.meanSpectrum) {
                v *= 1.0f + strength * noise(rng);
            }
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
            r.meanSpectrum.fill(0.5f); // silence: correlates as 1 with anything
        }
        if (rng() % 5 == 0) {
            r.acousticPrint.clear();
        }
        library.push_back(std::move(r));
    }
    return library;
}

struct RuleCase {
    const char* name;
    bool byContent;
    bool byTags;
    bool verify;
};

class CandidateSearch : public ::testing::TestWithParam<RuleCase> {};

// Every pair that the scorer's cheap steps let through is among the index's candidates, for every
// threshold, so the index reports exactly what comparing every pair reports.
TEST_P(CandidateSearch, CandidatesHoldEveryPairTheAllPairsLoopWouldScore) {
    const RuleCase& c = GetParam();
    const std::deque<TrackRecord> library = randomLibrary(c.byContent * 2 + c.byTags + c.verify * 4, 300);
    ScanIndex index;
    index.clear(c.verify);
    for (std::size_t i = 0; i < library.size(); ++i) {
        index.append(u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)), library[i]);
    }
    std::size_t narrowed = 0;
    std::size_t reported = 0;
    for (const float threshold : {0.3f, 0.5f, 0.6f, 0.75f, 0.9f, 0.99f}) {
        PairScorer::Rule rule;
        rule.byContent = c.byContent;
        rule.byTags = c.byTags;
        rule.verify = c.verify;
        rule.contentThreshold = threshold;
        rule.tagsThreshold = threshold;
        rule.acousticThreshold = 0.5f;
        const PairScorer scorer(rule);
        std::vector<std::uint32_t> found;
        for (std::size_t me = 0; me < library.size(); ++me) {
            const bool narrow = index.candidates(me, scorer, found, SIZE_MAX);
            narrowed += narrow ? 1 : 0;
            const std::set<std::uint32_t> taken(found.begin(), found.end());
            ASSERT_EQ(taken.size(), found.size()) << "a candidate came twice";
            for (std::size_t i = 0; i < me; ++i) {
                if (!scorer.isCandidate(index.prepared(me), index.prepared(i))) {
                    continue;
                }
                analysis::PairScores scores;
                reported += scorer.score(library[me], library[i], scores) ? 1 : 0;
                ASSERT_TRUE(!narrow || taken.count(static_cast<std::uint32_t>(i)) == 1)
                    << "threshold " << threshold << ": pair " << me << "-" << i << " missed";
            }
            ASSERT_TRUE(std::all_of(found.begin(), found.end(), [&](std::uint32_t p) { return p < me; }));
        }
    }
    EXPECT_GT(reported, 100u) << "the library should hold many pairs";
    EXPECT_GT(narrowed, library.size()) << "the indexes should narrow most searches";
}

INSTANTIATE_TEST_SUITE_P(Rules, CandidateSearch,
                         ::testing::Values(RuleCase{"Content", true, false, false},
                                           RuleCase{"Tags", false, true, false},
                                           RuleCase{"TagsAndContent", true, true, false},
                                           RuleCase{"ContentVerified", true, false, true},
                                           RuleCase{"TagsAndContentVerified", true, true, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// Tracks with texts of their own leave the tag index only a few candidates to name. (A group that most
// texts share, such as " - " in file names, makes it give up instead; the loop then does the work.)
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

// The reasoning behind the tag index: texts that share no group of `gram` units, from the shortest
// length it names on, never reach the threshold. Texts from a tiny alphabet share groups by chance
// and score high, which is where a wrong length would show.
TEST(TagIndexLengths, TextsWithoutASharedGroupStayBelowTheThreshold) {
    std::mt19937 rng(5);
    const auto text = [&](std::size_t length) {
        std::u16string s;
        for (std::size_t i = 0; i < length; ++i) {
            s.push_back(static_cast<char16_t>(u'a' + rng() % 4));
        }
        return s;
    };
    const auto share = [](const std::u16string& x, const std::u16string& y, std::size_t gram) {
        for (std::size_t i = 0; i + gram <= x.size(); ++i) {
            if (y.find(x.substr(i, gram)) != std::u16string::npos) {
                return true;
            }
        }
        return false;
    };
    for (const float t : {0.3f, 0.5f, 0.7f, 0.75f, 0.9f}) {
        for (const std::size_t gram : {std::size_t{2}, std::size_t{3}}) {
            const std::size_t from = TagIndex::needsSharedGram(t, gram);
            ASSERT_LE(from, 17u);
            for (int k = 0; k < 3000; ++k) {
                const std::u16string x = text(from + rng() % 4);
                const std::u16string y = text(from + rng() % 12);
                if (analysis::textLikeness(x, y) >= t) {
                    ASSERT_TRUE(share(x, y, gram)) << "threshold " << t << " gram " << gram;
                }
            }
        }
    }
}

} // namespace
} // namespace tonemirror::engine
