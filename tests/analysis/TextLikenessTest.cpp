#include "analysis/TextLikeness.h"
#include "support/LiteralLikeness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>

namespace tonemirror::analysis {
namespace {

struct Worked {
    const char* name;
    std::u16string x;
    std::u16string y;
    double expected;
};

void PrintTo(const Worked& c, std::ostream* os) {
    *os << c.name;
}

class TextLikenessWorked : public ::testing::TestWithParam<Worked> {};

TEST_P(TextLikenessWorked, MatchesHandCount) {
    const Worked& w = GetParam();
    const float expected = static_cast<float>(w.expected);
    EXPECT_EQ(textLikeness(w.x, w.y), expected);
    EXPECT_EQ(textLikeness(w.y, w.x), expected);
    EXPECT_EQ(literalLikeness(w.x, w.y), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TextLikenessWorked,
    ::testing::Values(
        Worked{"PairsSharedInPart", u"abcd", u"abxy", 0.3},      // a, b, ab of each side: 6 of 20
        Worked{"SameCharactersNoPair", u"ab", u"ba", 4.0 / 6.0}, // all single characters, neither pair
        Worked{"OneCharacterEqual", u"a", u"a", 1.0}, Worked{"OneCharacterDiffering", u"a", u"b", 0.0},
        Worked{"OneSideEmpty", u"", u"abc", 0.0}, Worked{"BothEmpty", u"", u"", 0.0},
        Worked{"ThreeCharactersEqual", u"abc", u"abc", 1.0}, Worked{"NothingShared", u"abc", u"xyz", 0.0},
        // the shorter text inside the longer: its 3 all found; of the longer's 4+3 (no
        // lengths beyond 2) only b, c and bc: 6 of 10
        Worked{"ShorterInsideLonger", u"abcd", u"bc", 0.6},
        // repeats count per start: a, a of x and a, a of y (not aa, b, ab, ba): 4 of 8
        Worked{"RepeatsCountPerStart", u"aa", u"aba", 0.5},
        // a surrogate pair is two units; only the unit pairs that occur count
        Worked{"SurrogatePairsAsTwoUnits", u"\U0001F600x", u"x\U0001F600", 8.0 / 12.0}),
    [](const auto& p) { return std::string(p.param.name); });

// Texts built from a small alphabet repeat characters and substrings often, which is where a clever
// count is most likely to go wrong; the wide alphabet covers non-ASCII and lone or paired surrogates.
std::u16string randomText(std::mt19937& rng, std::size_t maxLength, const std::u16string& alphabet) {
    std::uniform_int_distribution<std::size_t> lengthDist(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::u16string text(lengthDist(rng), u'\0');
    for (auto& c : text) {
        c = alphabet[pick(rng)];
    }
    return text;
}

TEST(TextLikeness, EqualsTheLiteralCountOnRandomPairs) {
    std::mt19937 rng(20261207);
    const std::u16string alphabets[] = {
        u"ab",
        u"abc ",
        u"the quick brown fx",
        std::u16string(u"a\u00e9\u00df\u0416\u4e2d") + u'\xD83D' + u'\xDE00' + u'\xDC00' + u'\0',
    };
    int checked = 0;
    for (const auto& alphabet : alphabets) {
        for (int i = 0; i < 1500; ++i) {
            const std::u16string x = randomText(rng, 24, alphabet);
            // Now and then a pair where one text is built from the other, so long matches occur.
            std::u16string y = randomText(rng, 24, alphabet);
            if (i % 4 == 0 && !x.empty()) {
                y = y.substr(0, y.size() / 2) + x.substr(x.size() / 3) + y.substr(y.size() / 2);
            }
            ASSERT_EQ(textLikeness(x, y), literalLikeness(x, y)) << "pair " << i;
            ASSERT_EQ(textLikeness(y, x), textLikeness(x, y));
            ++checked;
        }
    }
    EXPECT_EQ(checked, 6000);
}

// x = a^n inside y = b^p a^n b^q: all of x is found; of y, exactly the runs of a up to length n. So
// found = n(n+1) of total n(n+p+q+1). Lengths around the stack limit take both working-memory paths.
TEST(TextLikeness, LongTextsOnBothSidesOfTheStackLimit) {
    for (const std::size_t n : {std::size_t{5}, kTextLikenessStackChars, kTextLikenessStackChars + 1}) {
        const std::size_t p = 7;
        const std::size_t q = 30;
        const std::u16string x(n, u'a');
        const std::u16string y = std::u16string(p, u'b') + x + std::u16string(q, u'b');
        const auto expected =
            static_cast<float>(static_cast<double>(n + 1) / static_cast<double>(n + p + q + 1));
        EXPECT_EQ(textLikeness(x, y), expected) << n;
        EXPECT_EQ(textLikeness(y, x), expected) << n;
    }
}

TEST(TextLikenessBound, NeverBelowTheMeasure) {
    std::mt19937 rng(7);
    const std::u16string alphabets[] = {u"ab", u"abcdefgh ", u"ab\u00e9\u4e2d\xD83D\xDE00"};
    for (const auto& alphabet : alphabets) {
        for (int i = 0; i < 3000; ++i) {
            const std::u16string x = randomText(rng, 40, alphabet);
            std::u16string y = randomText(rng, 40, alphabet);
            if (i % 3 == 0 && !x.empty()) {
                y.insert(y.size() / 2, x.substr(x.size() / 4, x.size() / 2));
            }
            const float bound = textLikenessUpperBound(makeTextSketch(x), makeTextSketch(y));
            ASSERT_GE(bound, textLikeness(x, y)) << i;
            ASSERT_LE(bound, 1.0f);
        }
    }
}

// A bound that always said 1 would pass the test above; it must also rule out unrelated texts.
TEST(TextLikenessBound, RulesOutUnrelatedTexts) {
    const auto bound = [](std::u16string_view x, std::u16string_view y) {
        return textLikenessUpperBound(makeTextSketch(x), makeTextSketch(y));
    };
    EXPECT_EQ(bound(u"abc", u"xyz"), 0.0f);
    EXPECT_EQ(bound(u"", u"xyz"), 0.0f);
    EXPECT_EQ(bound(u"same", u"same"), 1.0f);
    // Shared letters but hardly a shared pair: the bound stays close to the true value.
    EXPECT_LT(bound(u"yesterday", u"let it be"), 0.2f);
    EXPECT_LT(bound(u"bohemian rhapsody", u"stairway to heaven"), 0.5f);
    EXPECT_LT(bound(u"the beatles", u"led zeppelin"), 0.5f);
}

// The distinct runs of q units of a text, and its shape.
std::set<std::u16string> runsOf(const std::u16string& x, std::size_t q, RunShape& shape) {
    std::set<std::u16string> runs;
    for (std::size_t i = 0; i + q <= x.size(); ++i) {
        runs.insert(x.substr(i, q));
    }
    shape = {x.size(), x.size() >= q ? x.size() - q + 1 - runs.size() : 0, q};
    return runs;
}

// Texts from small alphabets share runs by chance, repeat them and score high, which is where a count
// of shared runs that claims too little shows; embedded copies give the long shared blocks.
TEST(SharedRunsBound, NeverBelowTheLikeness) {
    std::mt19937 rng(11);
    const std::u16string alphabets[] = {u"ab", u"abc", u"abcdefgh "};
    std::size_t tight = 0;
    for (const auto& alphabet : alphabets) {
        for (int i = 0; i < 6000; ++i) {
            const std::size_t q = 1 + i % 3;
            const std::u16string x = randomText(rng, 30, alphabet);
            std::u16string y = randomText(rng, 30, alphabet);
            if (i % 3 == 0 && !x.empty()) {
                y.insert(y.size() / 2, x.substr(x.size() / 4, x.size() / 2));
            }
            RunShape sx;
            RunShape sy;
            const auto rx = runsOf(x, q, sx);
            const auto ry = runsOf(y, q, sy);
            std::size_t shared = 0;
            for (const auto& r : rx) {
                shared += ry.count(r);
            }
            const float likeness = textLikeness(x, y);
            const float bound = likenessWithSharedRuns(sx, sy, shared);
            ASSERT_GE(bound, likeness) << i << " runs of " << q;
            ASSERT_EQ(bound, likenessWithSharedRuns(sy, sx, shared)) << "symmetric";
            tight += bound <= likeness + 0.1f ? 1 : 0;
        }
    }
    EXPECT_GT(tight, 2000u) << "a bound far above the likeness would narrow no search";
}

TEST(SharedRunsBound, FewSharedRunsRuleOutHighLikeness) {
    // Titles of 20 units without repeats: without a shared run they score under 0.2, and at 0.75 they
    // need most of their runs in common.
    const RunShape title{20, 0, 3};
    EXPECT_LT(likenessWithSharedRuns(title, title, 0), 0.2f);
    EXPECT_LT(likenessWithSharedRuns(title, title, 14), 0.75f);
    EXPECT_EQ(likenessWithSharedRuns(title, title, 18), 1.0f);
    EXPECT_EQ(likenessWithSharedRuns(RunShape{}, title, 18), 0.0f);
    // Texts too short for a run share none, yet may be alike.
    EXPECT_EQ(likenessWithSharedRuns(RunShape{2, 0, 3}, RunShape{2, 0, 3}, 0), 1.0f);
    // Runs of two units tell short texts apart where runs of three cannot.
    EXPECT_GE(likenessWithSharedRuns(RunShape{4, 0, 3}, RunShape{4, 0, 3}, 0), 0.75f);
    EXPECT_LT(likenessWithSharedRuns(RunShape{4, 0, 2}, RunShape{4, 0, 2}, 1), 0.75f);
}

} // namespace
} // namespace tonemirror::analysis
