#include "analysis/TagComparison.h"
#include "analysis/TrackTexts.h"
#include "support/LiteralLikeness.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace tonemirror::analysis {
namespace {

// Weighted mean with the weights of the parts that count, in 32-bit floats like the score.
float mean(float ti, float ar, float nm, float al, float weights) {
    return (0.4f * ti + 0.3f * ar + 0.15f * nm + 0.15f * al) / weights;
}

struct TagCase {
    const char* label;
    TrackRecord newer;
    TrackRecord older;
    float expected;
};

void PrintTo(const TagCase& c, std::ostream* os) {
    *os << c.label;
}

class CompareTagsCases : public ::testing::TestWithParam<TagCase> {};

TEST_P(CompareTagsCases, Score) {
    const TagCase& c = GetParam();
    EXPECT_FLOAT_EQ(compareTags(c.newer, c.older), c.expected) << c.label;
}

// Texts chosen so each likeness is known: equal texts 1, no shared character 0, abcd/abxy 0.3.
INSTANTIATE_TEST_SUITE_P(
    Rules, CompareTagsCases,
    ::testing::Values(
        TagCase{"identical", tagRecord(u"01 song", u"song", u"band", u"disc"),
                tagRecord(u"01 song", u"song", u"band", u"disc"), 1.0f},
        TagCase{"title and artist swapped", tagRecord(u"n", u"abcd", u"wxyz", u"disc"),
                tagRecord(u"n", u"wxyz", u"abcd", u"disc"), 1.0f},
        TagCase{"nothing known on either side", tagRecord(u"", u"", u"", u""), tagRecord(u"", u"", u"", u""),
                0.0f},
        // Album on one side only counts as a mismatch with its full weight.
        TagCase{"album on one side", tagRecord(u"n", u"t", u"a", u"disc"), tagRecord(u"n", u"t", u"a", u""),
                0.85f},
        // A title missing on one side, not found in the file name either, drops out of the score.
        TagCase{"title missing on one side", tagRecord(u"qqq", u"", u"abcd", u""),
                tagRecord(u"qqq", u"xyw", u"abcd", u""), 1.0f},
        // An artist missing in the older track but written in its file name counts as found there.
        TagCase{"artist missing on the older side found in its file name",
                tagRecord(u"qq", u"abcd", u"wxyz", u""), tagRecord(u"wxyz", u"abcd", u"", u""),
                mean(1.0f, 1.0f, 0.0f, 0.0f, 0.4f + 0.3f + 0.15f)},
        // Only the file name known: the title comes from it (abcd against abxy), the artist finds
        // nothing and drops out, the other file's album counts as 0.
        TagCase{"file name only", tagRecord(u"abcd", u"", u"", u""),
                tagRecord(u"abcd", u"abxy", u"qq", u"zz"),
                mean(0.3f, 0.0f, 1.0f, 0.0f, 0.4f + 0.15f + 0.15f)},
        // Partial matches everywhere; both titles present, so a zero title still weighs.
        TagCase{"partial", tagRecord(u"abcd", u"xyz", u"abcd", u"abcd"),
                tagRecord(u"abxy", u"uvw", u"abxy", u"abcd"),
                mean(0.0f, 0.3f, 0.3f, 1.0f, 0.4f + 0.3f + 0.15f + 0.15f)}),
    [](const auto& p) {
        std::string name;
        bool capital = true;
        for (const char* c = p.param.label; *c != '\0'; ++c) {
            if (*c == ' ') {
                capital = true;
            } else {
                name += capital ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
                capital = false;
            }
        }
        return name;
    });

// The swap looks at the newer track's title against the older one's artist, so which record comes
// first matters: here title/title and artist/artist find nothing, the newer title equals the older
// artist (1) and the newer artist is like the older title (0.3).
TEST(CompareTags, OrderOfTheTracksMatters) {
    const TrackRecord newer = tagRecord(u"n", u"abcd", u"pqrs", u"");
    const TrackRecord older = tagRecord(u"n", u"pquv", u"abcd", u"");
    const float weights = 0.4f + 0.3f + 0.15f;
    EXPECT_FLOAT_EQ(compareTags(newer, older), mean(1.0f, 0.3f, 1.0f, 0.0f, weights));
    EXPECT_FLOAT_EQ(compareTags(older, newer), mean(0.3f, 1.0f, 1.0f, 0.0f, weights));
}

// Tag sets drawn from a few words with typos, empties, swaps and shared names, the mix a real
// collection has, so that every branch of the score is hit many times.
class RandomTags {
public:
    explicit RandomTags(unsigned seed) : rng_(seed) {}

    TrackRecord next() { return tagRecord(text(), text(), text(), text()); }

    // A variant of r: some texts copied, altered slightly, swapped or dropped.
    TrackRecord variant(const TrackRecord& r) {
        TrackRecord v = r;
        for (std::u16string* t : {&v.nameText, &v.titleText, &v.artistText, &v.albumText}) {
            if (coin(0.3)) {
                *t = text();
            } else if (coin(0.3) && !t->empty()) {
                (*t)[pick(t->size())] = u'x';
            }
        }
        if (coin(0.2)) {
            std::swap(v.titleText, v.artistText);
        }
        if (coin(0.2)) {
            v.nameText = r.titleText;
        }
        return v;
    }

private:
    bool coin(double p) { return std::bernoulli_distribution(p)(rng_); }
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    std::u16string text() {
        static const std::u16string words[] = {
            u"love", u"you",   u"the", u"night", u"blue",          u"moon",
            u"live", u"remix", u"01",  u"02",    u"\u00e9t\u00e9", u"\u4e2d\u6587",
            u"rain", u"a",     u"on",  u"-",     u"(live)",        u"ab"};
        if (coin(0.25)) {
            return {};
        }
        std::u16string t;
        const std::size_t count = 1 + pick(4);
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0) {
                t += u' ';
            }
            t += words[pick(std::size(words))];
        }
        return t;
    }

    std::mt19937 rng_;
};

TEST(CompareTagsUpperBound, NeverBelowTheScore) {
    RandomTags tags(42);
    // Clusters of a record and three variants of it: every ordered pair within a cluster, and every
    // fifth record for the unrelated rest.
    constexpr std::size_t kCluster = 4;
    std::vector<TrackRecord> records;
    for (int c = 0; c < 150; ++c) {
        records.push_back(tags.next());
        const TrackRecord base = records.back();
        for (std::size_t v = 1; v < kCluster; ++v) {
            records.push_back(tags.variant(base));
        }
    }
    std::vector<TagSketch> sketches;
    for (const auto& r : records) {
        sketches.push_back(makeTagSketch(r));
    }
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::size_t first = i - i % kCluster;
        for (std::size_t j = first; j < first + kCluster; ++j) {
            pairs.emplace_back(i, j);
        }
        for (std::size_t j = 0; j < records.size(); j += 5) {
            pairs.emplace_back(i, j);
        }
    }
    std::size_t ruledOut = 0;
    for (const auto& [i, j] : pairs) {
        const float score = compareTags(records[i], records[j]);
        const float bound = compareTagsUpperBound(sketches[i], sketches[j]);
        ASSERT_GE(bound, score) << i << " " << j;
        ASSERT_GE(score, 0.0f);
        ASSERT_LE(score, 1.0f);
        ruledOut += bound < 0.75f ? 1 : 0;
    }
    // Most random pairs are unrelated; a useful bound lets the scan skip most of them.
    EXPECT_GT(ruledOut, pairs.size() / 2) << ruledOut << " of " << pairs.size();
}

// The staged test must agree with the full bound at every floor: a stage that leaves out a source
// of the title or artist part (the swap, a file name standing in) turns down pairs the bound lets
// through. Each case has its title or artist part only through one such source.
struct StagedCase {
    const char* label;
    TrackRecord newer;
    TrackRecord older;
};

void PrintTo(const StagedCase& c, std::ostream* os) {
    *os << c.label;
}

class TagsBoundReachesCases : public ::testing::TestWithParam<StagedCase> {};

TEST_P(TagsBoundReachesCases, AgreesWithTheFullBoundAtEveryFloor) {
    const StagedCase& c = GetParam();
    const TagSketch newer = makeTagSketch(c.newer);
    const TagSketch older = makeTagSketch(c.older);
    const float bound = compareTagsUpperBound(newer, older);
    for (int step = 0; step <= 40; ++step) {
        const float floor = static_cast<float>(step) / 40.0f;
        EXPECT_EQ(tagsBoundReaches(newer, older, floor), bound >= floor) << "floor " << floor;
    }
    // Right at the bound and just above it, where rounding would show.
    EXPECT_TRUE(tagsBoundReaches(newer, older, bound));
    EXPECT_FALSE(tagsBoundReaches(newer, older, std::nextafter(bound, 2.0f)));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, TagsBoundReachesCases,
    ::testing::Values(
        StagedCase{"title and artist swapped", tagRecord(u"n", u"abcdefgh", u"qrstuvw", u"disc"),
                   tagRecord(u"n", u"qrstuvw", u"abcdefgh", u"disc")},
        // The name stands in for the missing title, the artists differ, names and albums agree.
        StagedCase{"newer title in its file name", tagRecord(u"abcdefgh", u"", u"pqrs", u"disc"),
                   tagRecord(u"abcdefgh", u"abcdefgh", u"wxyv", u"disc")},
        StagedCase{"older title in its file name", tagRecord(u"abcdefgh", u"abcdefgh", u"wxyv", u"disc"),
                   tagRecord(u"abcdefgh", u"", u"pqrs", u"disc")},
        StagedCase{"newer artist in its file name", tagRecord(u"abcdefgh", u"pqrs", u"", u"disc"),
                   tagRecord(u"abcdefgh", u"wxyv", u"abcdefgh", u"disc")},
        StagedCase{"older artist in its file name", tagRecord(u"abcdefgh", u"wxyv", u"abcdefgh", u"disc"),
                   tagRecord(u"abcdefgh", u"pqrs", u"", u"disc")},
        StagedCase{"names and albums only", tagRecord(u"abcdefgh", u"", u"", u"qrstuvw"),
                   tagRecord(u"abcdefgh", u"", u"", u"qrstuvw")},
        StagedCase{"nothing in common", tagRecord(u"abc", u"def", u"ghi", u"jkl"),
                   tagRecord(u"mno", u"pqr", u"stu", u"vwx")}),
    [](const auto& p) {
        std::string name;
        for (const char* c = p.param.label; *c != '\0'; ++c) {
            name += *c == ' ' ? '_' : *c;
        }
        return name;
    });

TEST(TagsBoundReaches, AgreesWithTheFullBoundOnRandomPairs) {
    RandomTags tags(7);
    std::vector<TrackRecord> records;
    for (int c = 0; c < 100; ++c) {
        records.push_back(tags.next());
        const TrackRecord base = records.back();
        for (int v = 0; v < 3; ++v) {
            records.push_back(tags.variant(base));
        }
    }
    std::vector<TagSketch> sketches;
    for (const auto& r : records) {
        sketches.push_back(makeTagSketch(r));
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        for (std::size_t j = 0; j < records.size(); j += 3) {
            const float bound = compareTagsUpperBound(sketches[i], sketches[j]);
            for (const float floor : {0.3f, 0.5f, 0.75f, 0.9f, bound}) {
                ASSERT_EQ(tagsBoundReaches(sketches[i], sketches[j], floor), bound >= floor)
                    << i << " " << j << " floor " << floor;
            }
        }
    }
}

// Texts are normalised under the user's locale; the tests use a fixed UTF-8 one.
class TrackTextsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); }
    static void TearDownTestSuite() { std::setlocale(LC_ALL, "C"); }

    static void setField(char16_t (&field)[TM_STREAM_TEXT_CHARS], std::u16string_view text) {
        std::fill(std::begin(field), std::end(field), u'\0');
        std::copy_n(text.begin(), std::min(text.size(), std::size(field)), field);
    }

    static StreamInfo info(std::u16string_view title, std::u16string_view artist, std::u16string_view album) {
        StreamInfo si{};
        setField(si.title, title);
        setField(si.artist, artist);
        setField(si.album, album);
        return si;
    }
};

TEST_F(TrackTextsTest, FileNameWithoutFolderAndExtension) {
    const StreamInfo si = info(u"", u"", u"");
    const struct {
        std::u16string_view path;
        std::u16string_view name;
    } cases[] = {
        {u"/music/Abba/01 Waterloo.mp3", u"01 waterloo"},
        {u"/music/no extension", u"no extension"},
        {u"/music/.hidden", u""}, // the only dot starts the name
        {u"/music/.hidden.ogg", u".hidden"},
        {u"/music/album.v2/track", u"track"}, // a dot in a folder is no extension
        {u"/music/a.b.c.flac", u"a.b.c"},
        {u"bare.wav", u"bare"},
        {u"/music/folder/", u""},
        {u"/music/ \t Spaced Out\t .wav", u"spaced out"},
        {u"/music/\u00c4RGER \u00dcBER \u0397\u039b\u0399\u039f.mp3",
         u"\u00e4rger \u00fcber \u03b7\u03bb\u03b9\u03bf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(makeTrackTexts(c.path, &si).nameText, c.name) << std::string(c.path.begin(), c.path.end());
    }
}

TEST_F(TrackTextsTest, TagFieldsTrimmedAndLowerCased) {
    const StreamInfo si =
        info(u"\t  Hello World ", u"\u00c9DITH PIAF", u"\u0416\u0401\u041b\u0422\u042b\u0419 \xD83D\xDE00");
    const TrackTexts t = makeTrackTexts(u"/m/x.mp3", &si);
    EXPECT_EQ(t.titleText, u"hello world");
    EXPECT_EQ(t.artistText, u"\u00e9dith piaf");
    EXPECT_EQ(t.albumText, u"\u0436\u0451\u043b\u0442\u044b\u0439 \xD83D\xDE00"); // surrogates untouched
}

TEST_F(TrackTextsTest, FieldsEndAtNulOrAtTheirSize) {
    StreamInfo si = info(u"", u"", u"");
    setField(si.title, std::u16string_view(u"kept\0dropped", 12));
    std::fill(std::begin(si.artist), std::end(si.artist), u'Z'); // no terminator at all
    const TrackTexts t = makeTrackTexts(std::u16string_view(u"/m/name\0.mp3", 12), &si);
    EXPECT_EQ(t.titleText, u"kept");
    EXPECT_EQ(t.artistText, std::u16string(TM_STREAM_TEXT_CHARS, u'z'));
    EXPECT_EQ(t.albumText, u"");
    EXPECT_EQ(t.nameText, u"name");
}

TEST_F(TrackTextsTest, NoStreamInfoLeavesEveryTextEmpty) {
    const TrackTexts t = makeTrackTexts(u"/music/Known Name.mp3", nullptr);
    EXPECT_TRUE(t.nameText.empty());
    EXPECT_TRUE(t.titleText.empty());
    EXPECT_TRUE(t.artistText.empty());
    EXPECT_TRUE(t.albumText.empty());
}

} // namespace
} // namespace tonemirror::analysis
