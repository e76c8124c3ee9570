#include "engine/CacheFormat.h"
#include "engine/EngineResults.h"
#include "engine/IgnoreListFormat.h"
#include "engine/IgnoreSet.h"
#include "engine/TrackStore.h"
#include "platform/os/Paths.h"
#include "support/FileContents.h"
#include "support/PeakMemory.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>

namespace tonemirror::engine {
namespace {

using fakes::readBytes;
using fakes::TempFolder;
using fakes::writeBytes;

std::vector<std::byte> utf16le(std::u16string_view text, bool bom = true) {
    std::vector<std::byte> out;
    const auto unit = [&](char16_t c) {
        out.push_back(static_cast<std::byte>(c & 0xFF));
        out.push_back(static_cast<std::byte>(c >> 8));
    };
    if (bom) {
        unit(0xFEFF);
    }
    for (const char16_t c : text) {
        unit(c);
    }
    return out;
}

using Pairs = std::vector<IgnoreSet::Pair>;

Pairs pairsOf(const IgnoreSet& set) {
    return {set.begin(), set.end()};
}

struct ParseCase {
    const char* name;
    std::vector<std::byte> data;
    Pairs expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class IgnoreListParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(IgnoreListParse, KeepsTheCompletePairs) {
    IgnoreSet set;
    ignore_list::parse(GetParam().data, set);
    EXPECT_EQ(pairsOf(set), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IgnoreListParse,
    ::testing::Values(
        ParseCase{"Empty", {}, {}}, ParseCase{"OnlyByteOrderMark", utf16le(u""), {}},
        ParseCase{
            "TwoLines", utf16le(u"\"/b\",\"/a\"\r\n\"/a\",\"/c\"\r\n"), {{u"/a", u"/c"}, {u"/b", u"/a"}}},
        ParseCase{"HandEditedSeparators",
                  utf16le(u"junk \"/a\" ; \"/b\"\n\"/c\"\t\"/d\"", false),
                  {{u"/a", u"/b"}, {u"/c", u"/d"}}},
        ParseCase{
            "LastPairWithoutClosingQuote", utf16le(u"\"/a\",\"/b\"\r\n\"/c\",\"/d\r\n"), {{u"/a", u"/b"}}},
        ParseCase{"EmptyPathsAreKept", utf16le(u"\"\",\"\"\r\n"), {{u"", u""}}},
        ParseCase{"OddLastByteIgnored",
                  [] {
                      auto b = utf16le(u"\"/a\",\"/b\"");
                      b.push_back(std::byte{'"'});
                      return b;
                  }(),
                  {{u"/a", u"/b"}}},
        ParseCase{"DuplicatesHeldOnce", utf16le(u"\"/a\",\"/b\"\"/a\",\"/b\""), {{u"/a", u"/b"}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(IgnoreListFormat, WritesByteOrderMarkAndOneQuotedPairPerLineInSetOrder) {
    IgnoreSet set;
    set.insert(u"/z/\u00e9.mp3", u"/a.mp3");
    set.insert(u"/a.mp3", u"/z/\u00e9.mp3");
    const auto text = ignore_list::format(set);
    EXPECT_EQ(text.bytes, utf16le(u"\"/a.mp3\",\"/z/\u00e9.mp3\"\r\n\"/z/\u00e9.mp3\",\"/a.mp3\"\r\n"));
    EXPECT_EQ(text.skipped, 0u);
    EXPECT_EQ(ignore_list::format(IgnoreSet{}).bytes, utf16le(u""));
}

TEST(IgnoreListFormat, LeavesOutPathsWithQuotesSoLaterPairsSurvive) {
    IgnoreSet set;
    set.insert(u"/a\"b.mp3", u"/c.mp3");
    set.insert(u"/d.mp3", u"/e.mp3");
    const auto text = ignore_list::format(set);
    EXPECT_EQ(text.skipped, 1u);
    IgnoreSet back;
    ignore_list::parse(text.bytes, back);
    EXPECT_EQ(pairsOf(back), (Pairs{{u"/d.mp3", u"/e.mp3"}}));
}

TEST(IgnoreSet, MatchesBothOrdersAndKeepsMirrorImagesDistinct) {
    IgnoreSet set;
    EXPECT_TRUE(set.insert(u"/a", u"/b"));
    EXPECT_FALSE(set.insert(u"/a", u"/b"));
    EXPECT_TRUE(set.matches(u"/a", u"/b"));
    EXPECT_TRUE(set.matches(u"/b", u"/a"));
    EXPECT_FALSE(set.contains(u"/b", u"/a"));
    EXPECT_FALSE(set.matches(u"/a", u"/B"));
    EXPECT_FALSE(set.matches(u"/a", u"/a"));
    EXPECT_TRUE(set.insert(u"/b", u"/a"));
    EXPECT_EQ(set.size(), 2u);
}

class IgnoreListStore : public ::testing::Test {
protected:
    StorageLocations folders() const {
        StorageLocations l;
        l.programFolder = dir_ / "program";
        l.userDataFolder = dir_ / "user/Tonemirror";
        return l;
    }
    void SetUp() override { std::filesystem::create_directories(dir_ / "program"); }
    TempFolder dir_;
};

TEST_F(IgnoreListStore, StartingCreatesAnEmptyListInAWritableProgramFolder) {
    TrackStore store(folders());
    EXPECT_EQ(store.loadIgnoreList(), S_OK);
    const auto file = dir_ / "program/ignores.list";
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    EXPECT_EQ(store.ignoreListPath(), file);
}

TEST_F(IgnoreListStore, FallsBackToTheUserFolderOnlyWhenItsListExists) {
    auto l = folders();
    l.programFolder = dir_ / "no-such-folder";
    {
        TrackStore store(l);
        EXPECT_EQ(store.loadIgnoreList(), E_FAIL);
        EXPECT_FALSE(std::filesystem::exists(l.userDataFolder / "ignores.list"));
        ASSERT_EQ(store.ignorePair(u"/a", u"/b"), S_OK);
        ASSERT_EQ(store.saveIgnoreList(), S_OK);
        EXPECT_EQ(store.ignoreListPath(), l.userDataFolder / "ignores.list");
    }
    TrackStore store(l);
    EXPECT_EQ(store.loadIgnoreList(), S_OK);
    EXPECT_TRUE(store.isIgnored(u"/b", u"/a"));
}

TEST_F(IgnoreListStore, PairsSurviveARunAndClearLeavesOnlyTheByteOrderMark) {
    const auto file = dir_ / "program/ignores.list";
    {
        TrackStore store(folders());
        ASSERT_EQ(store.loadIgnoreList(), S_OK);
        EXPECT_EQ(store.ignorePair(u"/m/one.mp3", u"/m/two.mp3"), S_OK);
        EXPECT_EQ(store.ignorePair(u"/m/one.mp3", u"/m/two.mp3"), E_ALREADY_PRESENT);
        EXPECT_EQ(store.ignorePair(u"/m/three.mp3", u"/m/one.mp3"), S_OK);
        {
            SharedTableLockHolder hold(store.lock());
            EXPECT_TRUE(store.isIgnored(u"/m/two.mp3", u"/m/one.mp3"));
            EXPECT_TRUE(store.isIgnored(u"/m/one.mp3", u"/m/three.mp3"));
            EXPECT_FALSE(store.isIgnored(u"/m/two.mp3", u"/m/three.mp3"));
        }
        ASSERT_EQ(store.saveIgnoreList(), S_OK);
    }
    {
        TrackStore store(folders());
        ASSERT_EQ(store.loadIgnoreList(), S_OK);
        EXPECT_EQ(store.ignoreSet().size(), 2u);
        EXPECT_EQ(store.clearCache(), S_OK);
        ASSERT_EQ(store.saveIgnoreList(), S_OK);
    }
    // The shorter text replaces the file; the old pairs do not come back from its tail.
    EXPECT_EQ(readBytes(file), utf16le(u""));
    TrackStore store(folders());
    ASSERT_EQ(store.loadIgnoreList(), S_OK);
    EXPECT_TRUE(store.ignoreSet().empty());
    // No temporary files are left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_ / "program")) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(IgnoreListStore, PairFromCacheRecordsAndListIsHeldOnceAndSavedToTheList) {
    auto l = folders();
    l.cacheFile = dir_ / "program/cache.dat";
    std::vector<std::byte> bytes(cache::header().begin(), cache::header().end());
    std::vector<std::byte> pair;
    ASSERT_EQ(cache::serializeIgnoredPair(u"/x", u"/y", pair), S_OK);
    bytes.insert(bytes.end(), pair.begin(), pair.end());
    writeBytes(l.cacheFile, bytes);
    writeBytes(dir_ / "program/ignores.list", utf16le(u"\"/x\",\"/y\"\r\n\"/p\",\"/q\"\r\n"));

    TrackStore store(l);
    ASSERT_EQ(store.openCache(), S_OK);
    ASSERT_EQ(store.loadIgnoreList(), S_OK);
    EXPECT_EQ(pairsOf(store.ignoreSet()), (Pairs{{u"/p", u"/q"}, {u"/x", u"/y"}}));
    ASSERT_EQ(store.saveIgnoreList(), S_OK);
    EXPECT_EQ(readBytes(dir_ / "program/ignores.list"), utf16le(u"\"/p\",\"/q\"\r\n\"/x\",\"/y\"\r\n"));
}

TEST_F(IgnoreListStore, ExplicitFileMissingIsEmptyAndIsCreatedOnSave) {
    StorageLocations l;
    l.ignoreListFile = dir_ / "mine.list";
    TrackStore store(l);
    EXPECT_EQ(store.loadIgnoreList(), S_OK);
    EXPECT_FALSE(std::filesystem::exists(l.ignoreListFile));
    ASSERT_EQ(store.ignorePair(u"/a", u"/b"), S_OK);
    ASSERT_EQ(store.saveIgnoreList(), S_OK);
    EXPECT_EQ(readBytes(l.ignoreListFile), utf16le(u"\"/a\",\"/b\"\r\n"));
    l.ignoreListFile = dir_ / "no-such-folder/mine.list";
    TrackStore elsewhere(l);
    EXPECT_EQ(elsewhere.saveIgnoreList(), E_FAIL);
}

std::vector<std::byte> bytes(std::string_view text) {
    std::vector<std::byte> out;
    for (const char c : text) {
        out.push_back(static_cast<std::byte>(c));
    }
    return out;
}

struct ReadCase {
    const char* name;
    std::vector<std::byte> data;
    Pairs expected;
    bool clean;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class IgnoreListRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IgnoreListRead, TakesEveryEncodingAndTellsWhetherTheTextIsOnlyPairs) {
    IgnoreSet set;
    const auto parsed = ignore_list::read(GetParam().data, set);
    EXPECT_EQ(pairsOf(set), GetParam().expected);
    EXPECT_EQ(parsed.clean, GetParam().clean);

    // Read from a file in pieces, the same.
    TempFolder dir;
    writeBytes(dir / "i.list", GetParam().data);
    const int fd = ::open((dir / "i.list").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    IgnoreSet fromFile;
    const auto read = ignore_list::readFile(fd, fromFile);
    ::close(fd);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(pairsOf(fromFile), GetParam().expected);
    EXPECT_EQ(read->clean, GetParam().clean);
}

// Many pairs, so that pairs and multi-byte characters straddle the edges of the pieces read.
std::vector<std::byte> longList(bool utf8, Pairs& expected) {
    std::string text;
    for (int i = 0; i < 30000; ++i) {
        const std::string first = "/m/" + std::to_string(i) + "-caf\xC3\xA9-" + std::string(i % 40, 'z');
        const std::string second = "/n/\xE2\x82\xAC" + std::to_string(i);
        text += "\"" + first + "\",\"" + second + "\"\r\n";
        expected.push_back({os::fromNativeName(first), os::fromNativeName(second)});
    }
    std::sort(expected.begin(), expected.end());
    if (utf8) {
        return bytes(text);
    }
    return utf16le(os::fromNativeName(text));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IgnoreListRead,
    ::testing::Values(
        ReadCase{"Empty", {}, {}, true},
        ReadCase{"OwnFormat",
                 utf16le(u"\"/a\",\"/b\"\r\n\"/c\",\"/d\"\r\n"),
                 {{u"/a", u"/b"}, {u"/c", u"/d"}},
                 true},
        ReadCase{"Utf8HandMade",
                 bytes("\"/m/\xC3\xA9.mp3\",\"/m/b.mp3\"\n"),
                 {{u"/m/\u00E9.mp3", u"/m/b.mp3"}},
                 true},
        ReadCase{"Utf8WithMark", bytes("\xEF\xBB\xBF\"/a\";\"/b\"\n"), {{u"/a", u"/b"}}, true},
        ReadCase{"Utf8NameBytesKept", bytes("\"/m/caf\xE9\",\"/b\""), {{u"/m/caf\xDCE9", u"/b"}}, true},
        ReadCase{"Utf16BigEndian",
                 [] {
                     auto b = utf16le(u"\"/a\",\"/b\"");
                     for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
                         std::swap(b[i], b[i + 1]);
                     }
                     return b;
                 }(),
                 {{u"/a", u"/b"}},
                 true},
        ReadCase{"OtherText", utf16le(u"my list:\r\n\"/a\",\"/b\"\r\n"), {{u"/a", u"/b"}}, false},
        ReadCase{"PairBrokenOff", utf16le(u"\"/a\",\"/b\"\r\n\"/c\",\"/d"), {{u"/a", u"/b"}}, false},
        ReadCase{"OddLastByte",
                 [] {
                     auto b = utf16le(u"\"/a\",\"/b\"");
                     b.push_back(std::byte{'\n'});
                     return b;
                 }(),
                 {{u"/a", u"/b"}},
                 false},
        ReadCase{"LongUtf8",
                 [] {
                     Pairs p;
                     return longList(true, p);
                 }(),
                 [] {
                     Pairs p;
                     longList(true, p);
                     return p;
                 }(),
                 true},
        ReadCase{"LongUtf16",
                 [] {
                     Pairs p;
                     return longList(false, p);
                 }(),
                 [] {
                     Pairs p;
                     longList(false, p);
                     return p;
                 }(),
                 true}),
    [](const auto& p) { return std::string(p.param.name); });

// A huge file given as the ignore list costs the pairs it holds, not its size.
TEST(IgnoreListFile, AHugeFileIsReadInBoundedPieces) {
    TempFolder dir;
    const auto list = dir / "ignores.list";
    auto head = utf16le(u"\"/a\",\"/b\"\r\n");
    writeBytes(list, head);
    ASSERT_EQ(::truncate(list.c_str(), off_t{256} << 20), 0); // sparse: costs no disk
    StorageLocations l;
    l.ignoreListFile = list;
    const auto grown = fakes::peakGrowthMiB([&] {
        TrackStore store(l);
        return succeeded(store.loadIgnoreList()) && store.ignoreSet().size() == 1;
    });
    ASSERT_TRUE(grown.has_value());
    EXPECT_LT(*grown, 128) << "MiB resident while loading a 256 MiB list";
}

TEST_F(IgnoreListStore, AListHoldingMoreThanPairsIsKeptAsideAndItsPairsCarriedOver) {
    const auto file = dir_ / "program/ignores.list";
    const auto original = bytes("\"/a\",\"/b\"\nremember: /c and /d are not duplicates\n");
    writeBytes(file, original);
    TrackStore store(folders());
    ASSERT_EQ(store.loadIgnoreList(), S_OK);
    EXPECT_FALSE(store.ignoreListClean());
    ASSERT_EQ(store.ignorePair(u"/e", u"/f"), S_OK);
    ASSERT_EQ(store.saveIgnoreList(), S_OK);
    ASSERT_FALSE(store.ignoreListKeptAside().empty());
    EXPECT_EQ(readBytes(store.ignoreListKeptAside()), original);
    EXPECT_EQ(readBytes(file), utf16le(u"\"/a\",\"/b\"\r\n\"/e\",\"/f\"\r\n"));
}

TEST_F(IgnoreListStore, ASaveMergesWhatAnotherCopyWroteMeanwhile) {
    TrackStore first(folders());
    TrackStore second(folders());
    ASSERT_EQ(first.loadIgnoreList(), S_OK);
    ASSERT_EQ(second.loadIgnoreList(), S_OK);
    ASSERT_EQ(first.ignorePair(u"/a", u"/b"), S_OK);
    ASSERT_EQ(second.ignorePair(u"/c", u"/d"), S_OK);
    ASSERT_EQ(first.saveIgnoreList(), S_OK);
    ASSERT_EQ(second.saveIgnoreList(), S_OK);
    EXPECT_EQ(readBytes(dir_ / "program/ignores.list"), utf16le(u"\"/a\",\"/b\"\r\n\"/c\",\"/d\"\r\n"));
}

} // namespace
} // namespace tonemirror::engine
