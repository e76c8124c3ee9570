#include "shell/PairRowIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using tonemirror::engine::DuplicatePair;
using tonemirror::engine::ExperimentalScore;
using tonemirror::shell::PairRowIndex;

DuplicatePair row(const std::u16string& a, const std::u16string& b) {
    DuplicatePair p;
    p.path1 = a;
    p.path2 = b;
    p.experimentalPercent = -1.0f;
    return p;
}

ExperimentalScore score(const std::u16string& a, const std::u16string& b, float percent = 70.0f) {
    return ExperimentalScore{a, b, percent, tonemirror::analysis::AnalysisFailure::none};
}

// Rows and their index, kept together as a front end keeps them.
struct Listing {
    std::vector<DuplicatePair> rows;
    PairRowIndex index;

    void add(DuplicatePair pair) {
        index.appended(pair, rows.size());
        rows.push_back(std::move(pair));
    }
    std::vector<std::size_t> rowsOf(const ExperimentalScore& s) {
        return index.rowsOf(s, rows.size(),
                            [this](std::size_t r) -> const DuplicatePair& { return rows[r]; });
    }
};

struct ScoreCase {
    const char* name;
    std::vector<DuplicatePair> rows;
    ExperimentalScore score;
    std::vector<std::size_t> expected;
};

class ScoreRowsTest : public ::testing::TestWithParam<ScoreCase> {};

TEST_P(ScoreRowsTest, FindsTheRowsListingTheScoresPair) {
    Listing listing;
    for (const auto& r : GetParam().rows) {
        listing.add(r);
    }
    EXPECT_EQ(listing.rowsOf(GetParam().score), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scores, ScoreRowsTest,
    ::testing::Values(
        ScoreCase{"ListedOnce", {row(u"/a", u"/b"), row(u"/c", u"/d")}, score(u"/c", u"/d"), {1}},
        // A row left waiting for a score its twin took would never get one.
        ScoreCase{"ListedTwiceBothRows",
                  {row(u"/a", u"/b"), row(u"/c", u"/d"), row(u"/a", u"/b")},
                  score(u"/a", u"/b"),
                  {0, 2}},
        ScoreCase{"PathsTheOtherWayRound", {row(u"/a", u"/b")}, score(u"/b", u"/a"), {}},
        ScoreCase{"SharesOnlyOneFile", {row(u"/a", u"/b"), row(u"/a", u"/c")}, score(u"/a", u"/x"), {}},
        ScoreCase{"NoRowsAtAll", {}, score(u"/a", u"/b"), {}}),
    [](const auto& p) { return std::string(p.param.name); });

// Rows moved by a sort or a removal: the score still reaches its row, at its new place.
TEST(PairRowIndexTest, FollowsRowsAfterTheyMove) {
    Listing listing;
    listing.add(row(u"/z", u"/1"));
    listing.add(row(u"/y", u"/2"));
    listing.add(row(u"/x", u"/3"));
    std::reverse(listing.rows.begin(), listing.rows.end());
    listing.index.rowsMoved();
    EXPECT_EQ(listing.rowsOf(score(u"/z", u"/1")), std::vector<std::size_t>{2});
    listing.rows.erase(listing.rows.begin()); // "/x" goes
    listing.index.rowsMoved();
    EXPECT_EQ(listing.rowsOf(score(u"/x", u"/3")), std::vector<std::size_t>{});
    EXPECT_EQ(listing.rowsOf(score(u"/z", u"/1")), std::vector<std::size_t>{1});
    listing.add(row(u"/w", u"/4")); // appended after a rebuild: found without another one
    EXPECT_EQ(listing.rowsOf(score(u"/w", u"/4")), std::vector<std::size_t>{2});
    listing.index.clear();
    listing.rows.clear();
    EXPECT_TRUE(listing.rowsOf(score(u"/w", u"/4")).empty());
}

TEST(PairRowIndexTest, AScoreCarriesItsValueOrWhyThereIsNone) {
    DuplicatePair pair = row(u"/a", u"/b");
    tonemirror::shell::applyScore(pair, score(u"/a", u"/b", 42.5f));
    EXPECT_EQ(pair.experimentalPercent, 42.5f);
    ExperimentalScore failed = score(u"/a", u"/b", -100.0f);
    failed.failure = tonemirror::analysis::AnalysisFailure::tooShort;
    tonemirror::shell::applyScore(pair, failed);
    EXPECT_EQ(pair.experimentalPercent, -100.0f);
    EXPECT_EQ(pair.experimentalFailure, tonemirror::analysis::AnalysisFailure::tooShort);
}

} // namespace
