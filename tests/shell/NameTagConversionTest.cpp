#include "shell/NameTagConversion.h"
#include "shell/GenreList.h"
#include "shell/RecentValues.h"
#include "shell/SettingNames.h"

#include "platform/os/Rename.h"

#include "support/FileContents.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;
using namespace tonemirror::shell;
using Tags = std::map<std::int32_t, std::u16string>;

constexpr std::int32_t kTitle = 1, kArtist = 2, kAlbum = 3, kYear = 4, kTrack = 5, kComment = 6, kGenre = 7;

Tags asMap(const std::vector<TagValue>& values) {
    Tags tags;
    for (const auto& value : values) {
        EXPECT_EQ(tags.count(value.tag), 0u) << "tag " << value.tag << " written twice";
        tags[value.tag] = value.text;
    }
    return tags;
}

TagReader readerOf(const Tags& tags) {
    return [&tags](std::int32_t tag) {
        const auto it = tags.find(tag);
        return it == tags.end() ? std::u16string() : it->second;
    };
}

struct NameCase {
    const char* name;
    std::u16string path;
    std::u16string pattern;
    Tags tags;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class FilenameToTags : public ::testing::TestWithParam<NameCase> {};

TEST_P(FilenameToTags, MatchesTheNameAgainstThePattern) {
    EXPECT_EQ(asMap(tagsFromName(GetParam().path, GetParam().pattern)), GetParam().tags);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FilenameToTags,
    ::testing::Values(
        NameCase{"TrackArtistTitle",
                 u"/m/07. Some Artist - Some Song.mp3",
                 u"<track>. <artist> - <title>",
                 {{kTrack, u"07"}, {kArtist, u"Some Artist"}, {kTitle, u"Some Song"}}},
        // The separator is missing: the cursor jumps to the end and only the last token gets a value.
        NameCase{"MissingSeparatorLeavesOnlyTheLastToken",
                 u"/m/Artist Only.mp3",
                 u"<artist> - <title>",
                 {{kTitle, u""}}},
        NameCase{"BlankEndsAnOpenToken",
                 u"/m/12 Name Here.mp3",
                 u"<track><title>",
                 {{kTrack, u"12"}, {kTitle, u"Name Here"}}},
        NameCase{"TabEndsATokenAndTokenNamesIgnoreCase",
                 u"/m/12\tName.mp3",
                 u"<TRACK><Title>",
                 {{kTrack, u"12"}, {kTitle, u"Name"}}},
        NameCase{"NoBlankLeavesOnlyTheLastToken", u"/m/NoBlank.mp3", u"<track><title>", {{kTitle, u""}}},
        NameCase{"SeparatorWithoutBlanksKeepsTheBlanks",
                 u"/m/A - B.mp3",
                 u"<artist>-<title>",
                 {{kArtist, u"A "}, {kTitle, u" B"}}},
        NameCase{
            "LiteralTextAroundAToken", u"/m/[x] Song (live).ogg", u"[x] <title> (live)", {{kTitle, u"Song"}}},
        NameCase{"LiteralTextMissingGivesNothing", u"/m/Song.ogg", u"<title> (live)", {}},
        NameCase{"YearAlbumTrack",
                 u"/m/2001 - Album - 03.flac",
                 u"<year> - <album> - <track>",
                 {{kYear, u"2001"}, {kAlbum, u"Album"}, {kTrack, u"03"}}},
        NameCase{
            "ExtensionIsNotMatched", u"/m/x.y.z", u"<comment>.<genre>", {{kComment, u"x"}, {kGenre, u"y"}}},
        NameCase{"DotInTheFolderIsNotAnExtension", u"/m.d/NoExt", u"<title>", {{kTitle, u"NoExt"}}},
        NameCase{"OnlyAnExtension", u"/m/.mp3", u"<title>", {{kTitle, u""}}},
        NameCase{"UnknownTokenIsLiteralText", u"/m/a <b> c.mp3", u"a <b> <title>", {{kTitle, u"c"}}},
        NameCase{"NoTokens", u"/m/no tokens.mp3", u"no tokens", {}},
        NameCase{"EmptyPattern", u"/m/x.mp3", u"", {}}, NameCase{"EmptyPath", u"", u"<title>", {}}),
    [](const auto& p) { return std::string(p.param.name); });

struct RenameCase {
    const char* name;
    std::u16string path;
    std::u16string pattern;
    Tags tags;
    std::optional<std::u16string> result;
};

void PrintTo(const RenameCase& c, std::ostream* os) {
    *os << c.name;
}

class TagsToFilename : public ::testing::TestWithParam<RenameCase> {};

TEST_P(TagsToFilename, BuildsTheNewPath) {
    EXPECT_EQ(nameFromTags(GetParam().path, GetParam().pattern, readerOf(GetParam().tags)),
              GetParam().result);
}

const Tags kSong = {{kTrack, u"07"}, {kArtist, u"Some Artist"}, {kTitle, u"Some Song"}};

INSTANTIATE_TEST_SUITE_P(
    Names, TagsToFilename,
    ::testing::Values(
        RenameCase{"TrackArtistTitle", u"/m/x.mp3", u"<track>. <artist> - <title>", kSong,
                   u"/m/07. Some Artist - Some Song.mp3"},
        // No tag of the pattern has a value: the file keeps its name.
        RenameCase{
            "NoTagOfThePatternKeepsTheName", u"/m/x.mp3", u"<track>. <artist> - <title>", {}, std::nullopt},
        RenameCase{"EmptyTitleKeepsTheName", u"/m/x.mp3", u"<title>", {}, std::nullopt},
        RenameCase{"OnlyCharactersNamesCannotHoldKeepTheName",
                   u"/m/x.mp3",
                   u"<title>",
                   {{kTitle, u"?*"}},
                   std::nullopt},
        // Some tags are enough; the missing ones leave their place empty.
        RenameCase{"SomeTagsLeaveTheOthersEmpty",
                   u"/m/x.mp3",
                   u"<track>. <artist> - <title>",
                   {{kTitle, u"T"}},
                   u"/m/.  - T.mp3"},
        RenameCase{"NoTokensGivesNothing", u"/m/x.mp3", u"no tokens", kSong, std::nullopt},
        RenameCase{"UnknownTokenOnlyGivesNothing", u"/m/x.mp3", u"<nosuch>", kSong, std::nullopt},
        RenameCase{"EmptyPatternGivesNothing", u"/m/x.mp3", u"", kSong, std::nullopt},
        RenameCase{"EmptyPathGivesNothing", u"", u"<title>", kSong, std::nullopt},
        RenameCase{"UnknownTokenStaysTextWithoutItsBrackets",
                   u"/m/x.mp3",
                   u"<title> <foo> <",
                   {{kTitle, u"T"}},
                   u"/m/T foo .mp3"},
        RenameCase{"CharactersNamesCannotHoldAreDropped",
                   u"/m/x.mp3",
                   u"<title>|\"?*:\\",
                   {{kTitle, u"AC/DC: <Live>?\t\u0001\u001F\u00e9\xDC80"}},
                   u"/m/ACDC Live\u00e9\xDC80.mp3"},
        RenameCase{"DotInTheFolderIsNotAnExtension", u"/m.d/noext", u"<title>", {{kTitle, u"T"}}, u"/m.d/T"},
        RenameCase{"OnlyTheLastExtensionIsKept", u"/m/a.b.flac", u"<ALBUM>", {{kAlbum, u"A"}}, u"/m/A.flac"},
        RenameCase{"NameWithoutAFolder", u"name.ogg", u"<year>", {{kYear, u"1999"}}, u"1999.ogg"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Pattern, TokensAreTheKnownNamesInAngleBrackets) {
    const auto parts = parsePattern(u"<<title>x<Genre");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].text, u"<");
    EXPECT_EQ(parts[1].tag, kTitle);
    EXPECT_EQ(parts[2].text, u"x<Genre");
    EXPECT_EQ(tagOfTokenName(u"Comment"), kComment);
    EXPECT_EQ(tagOfTokenName(u"comments"), 0);
    EXPECT_TRUE(patternHasToken(u"x <ARTIST>"));
    EXPECT_FALSE(patternHasToken(u"<nosuch> <title"));
}

// Both directions on real files: the name gives the tags, the tags give the name back, and a name
// that is taken fails for that file alone.
TEST(Conversion, RoundTripAndNameClashOnRealFiles) {
    tonemirror::fakes::TempFolder folder;
    const auto u16 = [](const fs::path& p) {
        const std::string s = p.string();
        return std::u16string(s.begin(), s.end());
    };
    const fs::path original = folder / "07. Some Artist - Some Song.mp3";
    const std::u16string pattern = u"<track>. <artist> - <title>";
    const Tags tags = asMap(tagsFromName(u16(original), pattern));
    EXPECT_EQ(tags, kSong);

    tonemirror::fakes::writeText(folder / "a.mp3", "first");
    tonemirror::fakes::writeText(folder / "b.mp3", "second");
    tonemirror::fakes::writeText(folder / "c.mp3", "third");
    const auto target = nameFromTags(u16(folder / "a.mp3"), pattern, readerOf(tags));
    ASSERT_EQ(target, u16(original));
    EXPECT_FALSE(tonemirror::os::renameNoReplace(folder / "a.mp3", original));
    EXPECT_EQ(tonemirror::os::renameNoReplace(folder / "b.mp3",
                                              *nameFromTags(u16(folder / "b.mp3"), pattern, readerOf(tags))),
              std::errc::file_exists);
    const Tags other = {{kTrack, u"08"}, {kArtist, u"Some Artist"}, {kTitle, u"Other"}};
    EXPECT_FALSE(tonemirror::os::renameNoReplace(
        folder / "c.mp3", *nameFromTags(u16(folder / "c.mp3"), pattern, readerOf(other))));

    EXPECT_EQ(tonemirror::fakes::readText(original), "first");
    EXPECT_EQ(tonemirror::fakes::readText(folder / "b.mp3"), "second");
    EXPECT_EQ(tonemirror::fakes::readText(folder / "08. Some Artist - Other.mp3"), "third");
    EXPECT_FALSE(fs::exists(folder / "a.mp3"));
}

TEST(RecentValues, NewestFirstWithoutRepeatsUpToTheLimit) {
    std::vector<std::u16string> values;
    for (int i = 1; i <= 16; ++i) {
        pushRecentValue(values, u"v" + std::u16string(1, static_cast<char16_t>(u'a' + i)),
                        settings::kRecentTagValues);
    }
    ASSERT_EQ(values.size(), 15u);
    EXPECT_EQ(values.front(), u"vq"); // the 16th
    EXPECT_EQ(values.back(), u"vc");  // the 1st ("vb") fell out
    pushRecentValue(values, u"vh", settings::kRecentTagValues);
    EXPECT_EQ(values.size(), 15u);
    EXPECT_EQ(values.front(), u"vh");
    EXPECT_EQ(std::count(values.begin(), values.end(), u"vh"), 1);
    pushRecentValue(values, u"", settings::kRecentTagValues);
    EXPECT_EQ(values.front(), u"vh");
    pushRecentValue(values, u"VH", settings::kRecentPatterns);
    EXPECT_EQ(values.size(), 10u);
    EXPECT_EQ(values[0], u"VH");
    EXPECT_EQ(values[1], u"vh");
}

TEST(Genres, TheFullListWithItsStoredSpellings) {
    const auto& names = genreNames();
    ASSERT_EQ(names.size(), 148u);
    EXPECT_EQ(names[0], u"Blues");
    EXPECT_EQ(names[67], u"Psychedelic");
    EXPECT_EQ(names[81], u"Folk/Rock");
    EXPECT_EQ(names[123], u"Acapella");
    EXPECT_EQ(names[136], u"Christian Gangs");
    EXPECT_EQ(names[140], u"Contemporary Cristian");
    EXPECT_EQ(names[141], u"Cristian Rock");
    EXPECT_EQ(names[147], u"Synthpop");
    EXPECT_EQ(std::set<std::u16string>(names.begin(), names.end()).size(), names.size());
}

} // namespace
