#include "shell/ResolvePlan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tonemirror::engine::DuplicatePair;
using tonemirror::shell::FileQuality;
using tonemirror::shell::KeepCriterion;
using tonemirror::shell::KeeperRules;
using tonemirror::shell::PlanInput;
using tonemirror::shell::ResultGroups;

DuplicatePair pairOf(const std::u16string& a, const std::u16string& b, float content = 90.0f) {
    DuplicatePair p;
    p.path1 = a;
    p.path2 = b;
    p.contentPercent = content;
    return p;
}

FileQuality lossy(std::uint32_t kbits) {
    FileQuality q;
    q.readable = true;
    q.format = "mp3";
    q.bitRate = kbits * 1000;
    q.sampleRate = 44100;
    q.channels = 2;
    q.durationMs = 180000;
    return q;
}

FileQuality flac() {
    FileQuality q = lossy(900);
    q.format = "flac";
    q.lossless = true;
    return q;
}

// The qualities in the order the files first appear in the pairs.
struct Library {
    std::vector<DuplicatePair> pairs;
    std::vector<FileQuality> qualities;
    std::vector<std::u16string> references;
    KeeperRules rules;

    tonemirror::shell::ResolvePlan plan(const ResultGroups& groups) const {
        return tonemirror::shell::planMarks(PlanInput{groups, qualities, references, rules});
    }
};

std::vector<std::u16string> paths(const ResultGroups& groups,
                                  const std::vector<ResultGroups::FileIndex>& files) {
    std::vector<std::u16string> out;
    for (const auto f : files) {
        out.push_back(groups.path(f));
    }
    return out;
}

TEST(ResultGroupsTest, ConnectedPairsFormOneGroupAndSeparatePairsTheirOwn) {
    const std::vector<DuplicatePair> pairs = {pairOf(u"/a", u"/b"), pairOf(u"/x", u"/y"),
                                              pairOf(u"/c", u"/b"), pairOf(u"/y", u"/z"),
                                              pairOf(u"/q", u"/a")};
    const ResultGroups groups(pairs);
    ASSERT_EQ(groups.groups().size(), 2u);
    EXPECT_EQ(paths(groups, groups.groups()[0].files),
              (std::vector<std::u16string>{u"/a", u"/b", u"/c", u"/q"}));
    EXPECT_EQ(paths(groups, groups.groups()[1].files), (std::vector<std::u16string>{u"/x", u"/y", u"/z"}));
    EXPECT_EQ(groups.groups()[0].pairs, (std::vector<std::size_t>{0, 2, 4}));
    EXPECT_EQ(groups.groups()[1].pairs, (std::vector<std::size_t>{1, 3}));
}

TEST(ResultGroupsTest, PairsAreFoundInEitherOrderAndOnlyWhenReported) {
    const std::vector<DuplicatePair> pairs = {pairOf(u"/a", u"/b", 91.0f), pairOf(u"/c", u"/b", 80.0f)};
    const ResultGroups groups(pairs);
    const auto a = groups.find(u"/a");
    const auto b = groups.find(u"/b");
    const auto c = groups.find(u"/c");
    ASSERT_NE(groups.pairOf(b, a), nullptr);
    EXPECT_FLOAT_EQ(groups.pairOf(b, a)->contentPercent, 91.0f);
    EXPECT_FLOAT_EQ(groups.pairOf(b, c)->contentPercent, 80.0f);
    EXPECT_FALSE(groups.paired(a, c)); // same group, but never reported
    EXPECT_FALSE(groups.paired(a, a));
    EXPECT_EQ(groups.find(u"/elsewhere"), groups.fileCount());
}

TEST(ResultGroupsTest, ManyCopiesOfOneSongAreOneGroup) {
    std::vector<DuplicatePair> pairs;
    for (int i = 1; i < 320; ++i) {
        for (int j = 0; j < i; ++j) {
            pairs.push_back(pairOf(u"/m/" + std::u16string(1, char16_t(0x100 + i)),
                                   u"/m/" + std::u16string(1, char16_t(0x100 + j))));
        }
    }
    ASSERT_EQ(pairs.size(), 51040u);
    const ResultGroups groups(pairs);
    ASSERT_EQ(groups.groups().size(), 1u);
    EXPECT_EQ(groups.groups()[0].files.size(), 320u);
}

TEST(ResolvePlanTest, ChainKeepingOneEndNeverTouchesTheOther) {
    Library lib;
    lib.pairs = {pairOf(u"/a.flac", u"/b.mp3"), pairOf(u"/b.mp3", u"/c.mp3")};
    lib.qualities = {flac(), lossy(320), lossy(128)};
    const ResultGroups groups(lib.pairs);
    const auto plan = lib.plan(groups);
    ASSERT_EQ(plan.groups.size(), 1u);
    EXPECT_EQ(groups.path(plan.groups[0].keep), u"/a.flac");
    EXPECT_EQ(plan.groups[0].reason, KeepCriterion::Lossless);
    EXPECT_EQ(paths(groups, plan.groups[0].mark), std::vector<std::u16string>{u"/b.mp3"});
    EXPECT_EQ(plan.markedFiles, 1u);
    EXPECT_EQ(plan.groupsWithMarks, 1u);
}

TEST(ResolvePlanTest, ReferenceFilesAreKeptFirstAndNeverMarked) {
    Library lib;
    lib.pairs = {pairOf(u"/ref/a.mp3", u"/in/b.flac"), pairOf(u"/ref/a.mp3", u"/ref/sub/c.mp3"),
                 pairOf(u"/in/b.flac", u"/ref/sub/c.mp3"), pairOf(u"/reference/d.mp3", u"/ref/a.mp3")};
    lib.qualities = {lossy(128), flac(), lossy(320), lossy(320)};
    lib.references = {u"/ref/"};
    const ResultGroups groups(lib.pairs);
    const auto plan = lib.plan(groups);
    ASSERT_EQ(plan.groups.size(), 1u);
    // c beats a by bit rate among the reference files; a (also in the folder) stays unmarked, and
    // "/reference" is not below "/ref".
    EXPECT_EQ(groups.path(plan.groups[0].keep), u"/ref/sub/c.mp3");
    EXPECT_EQ(plan.groups[0].reason, KeepCriterion::BitRate);
    EXPECT_EQ(paths(groups, plan.groups[0].mark), std::vector<std::u16string>{u"/in/b.flac"});
}

TEST(ResolvePlanTest, NoGroupLosesEveryCopy) {
    Library lib;
    // Equal in every way: the path decides, and one file stays in each group.
    for (int g = 0; g < 50; ++g) {
        const std::u16string base =
            u"/g" + std::u16string(1, char16_t(u'A' + g % 26)) + std::u16string(1, char16_t(u'a' + g / 26));
        lib.pairs.push_back(pairOf(base + u"/1", base + u"/2"));
        lib.pairs.push_back(pairOf(base + u"/2", base + u"/3"));
        lib.pairs.push_back(pairOf(base + u"/1", base + u"/3"));
    }
    lib.qualities.assign(150, lossy(192));
    const ResultGroups groups(lib.pairs);
    const auto plan = lib.plan(groups);
    ASSERT_EQ(plan.groups.size(), 50u);
    for (const auto& g : plan.groups) {
        EXPECT_EQ(g.mark.size(), 2u);
        EXPECT_EQ(g.reason, KeepCriterion::Name);
        EXPECT_EQ(groups.path(g.keep).back(), u'1');
        for (const auto f : g.mark) {
            EXPECT_NE(f, g.keep);
        }
    }
    EXPECT_EQ(plan.markedFiles, 100u);
}

struct RankCase {
    const char* name;
    FileQuality better;
    FileQuality worse;
    KeepCriterion decidedBy;
};

FileQuality with(FileQuality q, void (*change)(FileQuality&)) {
    change(q);
    return q;
}

class KeeperRankTest : public testing::TestWithParam<RankCase> {};

TEST_P(KeeperRankTest, DefaultOrderPrefersTheBetterCopy) {
    const RankCase& c = GetParam();
    const std::u16string pa = u"/music/a", pb = u"/music/b";
    const KeeperRules rules;
    // Either order of the two candidates gives the same verdict.
    const auto forward = rules.compare({&pb, &c.better, false}, {&pa, &c.worse, false});
    const auto backward = rules.compare({&pa, &c.worse, false}, {&pb, &c.better, false});
    EXPECT_LT(forward.order, 0);
    EXPECT_GT(backward.order, 0);
    EXPECT_EQ(forward.decidedBy, c.decidedBy);
    EXPECT_EQ(backward.decidedBy, c.decidedBy);
}

INSTANTIATE_TEST_SUITE_P(
    Criteria, KeeperRankTest,
    testing::Values(
        RankCase{"LosslessBeatsHigherBitRate", flac(), lossy(320), KeepCriterion::Lossless},
        RankCase{"TranscodedFlacIsNoBetterThanLossy", lossy(320),
                 with(flac(),
                      [](FileQuality& q) {
                          q.probablyTranscoded = true;
                          q.bitRate = 200000;
                      }),
                 KeepCriterion::BitRate},
        RankCase{"HigherBitRate", lossy(256), lossy(128), KeepCriterion::BitRate},
        RankCase{"HigherSampleRate", with(lossy(128), [](FileQuality& q) { q.sampleRate = 48000; }),
                 lossy(128), KeepCriterion::SampleRate},
        RankCase{"MoreTags", with(lossy(128), [](FileQuality& q) { q.tagFields = 3; }), lossy(128),
                 KeepCriterion::TagFields},
        RankCase{"LongerByWholeSeconds", with(lossy(128), [](FileQuality& q) { q.durationMs = 181000; }),
                 with(lossy(128), [](FileQuality& q) { q.durationMs = 180999; }), KeepCriterion::Longer},
        RankCase{"UnreadableLosesToReadable", lossy(32), FileQuality{}, KeepCriterion::BitRate}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(KeeperRulesTest, ReferenceAndPathDecideWhenQualitiesAreEqual) {
    const FileQuality q = lossy(128);
    const std::u16string shortPath = u"/a/x.mp3", longPath = u"/a/longer/x.mp3";
    const KeeperRules rules;
    EXPECT_EQ(rules.compare({&longPath, &q, true}, {&shortPath, &q, false}).decidedBy,
              KeepCriterion::Reference);
    EXPECT_TRUE(rules.better({&longPath, &q, true}, {&shortPath, &q, false}));
    EXPECT_EQ(rules.compare({&shortPath, &q, false}, {&longPath, &q, false}).decidedBy,
              KeepCriterion::ShorterPath);
    // A chosen order: bit rate before lossless keeps the 320 kbit/s file over a 300 kbit/s FLAC.
    FileQuality smallFlac = flac();
    smallFlac.bitRate = 300000;
    const FileQuality big = lossy(320);
    const KeeperRules byRate({KeepCriterion::BitRate, KeepCriterion::Lossless});
    EXPECT_TRUE(byRate.better({&shortPath, &big, false}, {&longPath, &smallFlac, false}));
}

struct ParseCase {
    const char* name;
    const char* text;
    const char* stored; // nullptr: refused
};

class KeeperRulesParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(KeeperRulesParseTest, ReadsTheStoredForm) {
    std::string error;
    const auto rules = KeeperRules::parse(GetParam().text, &error);
    if (GetParam().stored == nullptr) {
        EXPECT_FALSE(rules.has_value());
        EXPECT_FALSE(error.empty());
    } else {
        ASSERT_TRUE(rules.has_value()) << error;
        EXPECT_EQ(rules->text(), GetParam().stored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, KeeperRulesParseTest,
    testing::Values(ParseCase{"Default", "reference,lossless,bitrate,samplerate,tags,longer,shorter-path",
                              "reference,lossless,bitrate,samplerate,tags,longer,shorter-path"},
                    ParseCase{"BlanksAroundNames", " bitrate , lossless", "bitrate,lossless"},
                    ParseCase{"Unknown", "lossless,loudest", nullptr},
                    ParseCase{"Repeated", "bitrate,lossless,bitrate", nullptr},
                    ParseCase{"Empty", "", nullptr}, ParseCase{"EmptyName", "lossless,,bitrate", nullptr},
                    ParseCase{"TieBreakIsNotAChoice", "name", nullptr}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(KeeperRulesTest, DefaultRulesRoundTripThroughTheirText) {
    const KeeperRules rules;
    const auto again = KeeperRules::parse(rules.text());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->order(), rules.order());
}

TEST(ResolvePlanTest, WarnsAboutAMarkedFileThatRanksAboveTheKeptOne) {
    Library lib;
    lib.pairs = {pairOf(u"/a.mp3", u"/b.flac"), pairOf(u"/a.mp3", u"/c.mp3")};
    lib.qualities = {lossy(128), flac(), lossy(96)};
    const ResultGroups groups(lib.pairs);
    const PlanInput input{groups, lib.qualities, lib.references, lib.rules};
    // By hand: a kept, b and c marked; only b is better than a.
    const std::vector<bool> marked = {false, true, true};
    const auto warnings = tonemirror::shell::rankWarnings(input, {groups.find(u"/a.mp3")}, marked);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(groups.path(warnings[0].marked), u"/b.flac");
    EXPECT_EQ(warnings[0].criterion, KeepCriterion::Lossless);
    // The plan's own marks raise none.
    const auto plan = lib.plan(groups);
    std::vector<bool> planned(groups.fileCount(), false);
    for (const auto f : plan.groups[0].mark) {
        planned[f] = true;
    }
    EXPECT_TRUE(tonemirror::shell::rankWarnings(input, {plan.groups[0].keep}, planned).empty());
}

struct FolderCase {
    const char* name;
    const char16_t* path;
    const char16_t* folder;
    bool inside;
};

class InFolderTest : public testing::TestWithParam<FolderCase> {};

TEST_P(InFolderTest, MatchesWholeNamesOnly) {
    EXPECT_EQ(tonemirror::shell::isInFolder(GetParam().path, GetParam().folder), GetParam().inside);
}

INSTANTIATE_TEST_SUITE_P(Paths, InFolderTest,
                         testing::Values(FolderCase{"Below", u"/music/a/b.mp3", u"/music", true},
                                         FolderCase{"TrailingSeparator", u"/music/b.mp3", u"/music/", true},
                                         FolderCase{"SamePrefixOtherFolder", u"/music2/b.mp3", u"/music",
                                                    false},
                                         FolderCase{"Root", u"/b.mp3", u"/", true},
                                         FolderCase{"EmptyFolder", u"/b.mp3", u"", false},
                                         FolderCase{"CaseMatters", u"/Music/b.mp3", u"/music", false}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
