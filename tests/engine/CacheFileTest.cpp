#include "analysis/AcousticFingerprinter.h"
#include "analysis/ContentComparison.h"
#include "analysis/SpectrumProfile.h"
#include "engine/CacheFormat.h"
#include "engine/EngineResults.h"
#include "engine/TestRecords.h"
#include "engine/TrackStore.h"
#include "support/FileContents.h"
#include "support/PeakMemory.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <random>

namespace tonemirror::engine {
namespace {

using fakes::readBytes;
using fakes::TempFolder;
using fakes::writeBytes;
using test::makeRecord;
using test::sameContent;

std::vector<std::byte> headerBytes() {
    const auto& h = cache::header();
    return {h.begin(), h.end()};
}

void put(std::vector<std::byte>& out, const std::vector<std::byte>& record) {
    out.insert(out.end(), record.begin(), record.end());
}

std::vector<std::byte> trackBytes(std::u16string_view path, const analysis::TrackRecord& r) {
    std::vector<std::byte> b;
    EXPECT_EQ(cache::serializeTrack(path, r, b), S_OK);
    return b;
}

std::vector<std::byte> pairBytes(std::u16string_view a, std::u16string_view b) {
    std::vector<std::byte> out;
    EXPECT_EQ(cache::serializeIgnoredPair(a, b, out), S_OK);
    return out;
}

// A record of a kind this version does not know, which the loader must skip.
std::vector<std::byte> unknownBytes(std::uint32_t type, std::uint32_t bodyLength, std::size_t actualBody) {
    std::vector<std::byte> out;
    for (const std::uint32_t v : {type, bodyLength}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
        }
    }
    out.resize(out.size() + actualBody, std::byte{0x5A});
    return out;
}

// The header followed by `records`, and the offset at which the first `goodRecords` of them end.
struct Assembled {
    std::vector<std::byte> bytes;
    std::size_t goodEnd;
};

Assembled assemble(const std::vector<std::vector<std::byte>>& records, std::size_t goodRecords) {
    Assembled a{headerBytes(), 0};
    a.goodEnd = a.bytes.size();
    for (std::size_t i = 0; i < records.size(); ++i) {
        put(a.bytes, records[i]);
        if (i < goodRecords) {
            a.goodEnd = a.bytes.size();
        }
    }
    return a;
}

StorageLocations explicitCache(const std::filesystem::path& file) {
    StorageLocations l;
    l.cacheFile = file;
    return l;
}

// A cache of several record kinds, with the offset at which each record ends and how many tracks
// and pairs are complete at that point.
struct Sample {
    std::vector<std::byte> bytes;
    struct Boundary {
        std::size_t end;
        std::size_t tracks;
        std::size_t pairs;
    };
    std::vector<Boundary> boundaries;
};

Sample makeSample() {
    Sample s;
    s.bytes = headerBytes();
    s.boundaries.push_back({s.bytes.size(), 0, 0});
    const auto add = [&](const std::vector<std::byte>& rec, std::size_t tracks, std::size_t pairs) {
        put(s.bytes, rec);
        s.boundaries.push_back({s.bytes.size(), tracks, pairs});
    };
    add(trackBytes(u"/music/b.mp3", makeRecord(1)), 1, 0);
    add(pairBytes(u"/music/x.mp3", u"/music/y.mp3"), 1, 1);
    add(unknownBytes(7, 5, 5), 1, 1);
    add(trackBytes(u"/music/a.mp3", makeRecord(2, u"")), 2, 1);
    analysis::TrackRecord bare = makeRecord(3, u"");
    bare.titleText.clear();
    bare.artistText.clear();
    bare.albumText.clear();
    add(trackBytes(u"/music/c.mp3", bare), 3, 1);
    return s;
}

const Sample::Boundary& lastBoundaryAtOrBefore(const Sample& s, std::size_t cut) {
    const Sample::Boundary* best = &s.boundaries.front();
    for (const auto& b : s.boundaries) {
        if (b.end <= cut) {
            best = &b;
        }
    }
    return *best;
}

// Opens the file in a fresh store, appends one new track, reopens it and checks the whole file
// loads: the good prefix plus the new record, nothing dropped.
void expectAppendLoadsCompletely(const std::filesystem::path& file, std::size_t tracksBefore) {
    {
        TrackStore store(explicitCache(file));
        ASSERT_EQ(store.openCache(), S_OK);
        ASSERT_EQ(store.tracksKnown(), static_cast<std::int32_t>(tracksBefore));
        ASSERT_EQ(std::filesystem::file_size(file), store.cacheEndOffset());
        TableLockHolder hold(store.lock());
        ASSERT_EQ(store.appendRecord(u"/appended/new.flac", makeRecord(99)), S_OK);
    }
    TrackStore again(explicitCache(file));
    ASSERT_EQ(again.openCache(), S_OK);
    EXPECT_EQ(again.lastLoad().droppedBytes, 0u);
    EXPECT_FALSE(again.lastLoad().headerReset);
    EXPECT_EQ(again.tracksKnown(), static_cast<std::int32_t>(tracksBefore + 1));
    EXPECT_NE(again.table().find(u"/appended/new.flac"), nullptr);
}

// A temporary folder and the cache file in it.
class CacheFolder : public ::testing::Test {
protected:
    TempFolder dir;
    const std::filesystem::path file = dir / "cache.dat";
};

// Keeps the name these tests always had, that of the class under test; inside them `CacheFile` is the
// fixture, so the class's open results are reached through it.
class CacheFile : public CacheFolder {
protected:
    using OpenResult = engine::CacheFile::OpenResult;

    // The program's folder (created) and a user data folder below `userData` (not yet there).
    StorageLocations programAndUserFolders(const char* userData) const {
        StorageLocations folders;
        folders.programFolder = dir / "program";
        folders.userDataFolder = dir / userData;
        std::filesystem::create_directories(folders.programFolder);
        return folders;
    }
};

TEST_F(CacheFile, RecordsRoundTripInCodeUnitOrder) {
    // U+FF21 sorts after a surrogate pair by code units (but before it by code points).
    const std::vector<std::u16string> paths = {u"/m/\uFF21.mp3", u"/m/\U0001F600.mp3", u"/m/B.mp3",
                                               u"/m/a.mp3"};
    {
        TrackStore store(explicitCache(file));
        ASSERT_EQ(store.openCache(), S_OK);
        EXPECT_EQ(readBytes(file), headerBytes());
        TableLockHolder hold(store.lock());
        std::vector<std::byte> buffer;
        for (unsigned i = 0; i < paths.size(); ++i) {
            ASSERT_EQ(store.appendRecord(paths[i], makeRecord(i), buffer), S_OK);
        }
    }
    TrackStore store(explicitCache(file));
    ASSERT_EQ(store.openCache(), S_OK);
    ASSERT_EQ(store.tracksKnown(), 4);
    std::vector<std::u16string> order;
    for (const auto& [path, record] : store.table()) {
        order.push_back(path);
        EXPECT_EQ(record.trackId, -1);
    }
    EXPECT_EQ(order, (std::vector<std::u16string>{u"/m/B.mp3", u"/m/a.mp3", u"/m/\U0001F600.mp3",
                                                  u"/m/\uFF21.mp3"}));
    for (unsigned i = 0; i < paths.size(); ++i) {
        const auto* r = store.table().find(paths[i]);
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(sameContent(*r, makeRecord(i)));
    }
}

TEST(CacheFormat, TrackRecordLayout) {
    analysis::TrackRecord r = makeRecord(5, u"ab");
    r.titleText = u"t";
    r.artistText.clear();
    r.albumText = u"xyz";
    const auto b = trackBytes(u"/p", r);
    const std::size_t total = 8654 + 2 * (2 + 2 + 1 + 0 + 3);
    ASSERT_EQ(b.size(), total);
    const auto u32At = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
        }
        return v;
    };
    EXPECT_EQ(u32At(0), 1u);
    EXPECT_EQ(u32At(4), total - 8);
    EXPECT_EQ(b[8], std::byte{2});
    EXPECT_EQ(b[9], std::byte{0});
    EXPECT_EQ(b[10], std::byte{'/'});
    float first = 0;
    std::memcpy(&first, &b[14], 4);
    EXPECT_EQ(first, r.levelProfile[0]);
    const std::size_t texts = 14 + 400 + 40 + 8192;
    EXPECT_EQ(b[texts], std::byte{2});      // nameText length
    EXPECT_EQ(b[texts + 6], std::byte{1});  // titleText length
    EXPECT_EQ(b[texts + 10], std::byte{0}); // artistText length
    EXPECT_EQ(b[texts + 12], std::byte{3}); // albumText length
    EXPECT_EQ(std::vector<std::byte>(b.end() - 4, b.end()),
              (std::vector<std::byte>{std::byte{0xFF}, std::byte{'E'}, std::byte{'N'}, std::byte{'D'}}));
}

// The spectrum bins a serialised track record holds, all of the file's kSpectrumSize.
std::vector<float> storedSpectrum(const std::vector<std::byte>& b, std::size_t pathUnits) {
    std::vector<float> bins(analysis::kSpectrumSize);
    std::memcpy(bins.data(), &b[8 + 2 + 2 * pathUnits + 400 + 40], 4 * bins.size());
    return bins;
}

struct SpectrumCase {
    const char* name;
    bool analysed; // the record still holds its upper bins, as a fresh analysis does
};

class CacheSpectrum : public ::testing::TestWithParam<SpectrumCase> {};

// The file keeps every bin: an analysis's own upper bins, or for a record that no longer holds them
// (the track table's) their mirror image with each bin's tilt, which is what an analysis finds there.
TEST_P(CacheSpectrum, TheFileHoldsEveryBin) {
    analysis::TrackRecord r = makeRecord(8);
    std::array<float, analysis::kComparedSpectrumBins> spectrum;
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        spectrum[k] = static_cast<float>(k + 1) / 2048.0f * (1.0f + 0.001f * static_cast<float>(k % 7));
    }
    r.meanSpectrum.assign(spectrum);
    if (GetParam().analysed) {
        for (std::size_t k = analysis::kComparedSpectrumBins; k < analysis::kSpectrumSize; ++k) {
            r.spectrumRest.push_back(static_cast<float>(k) * 0.5f);
        }
    }
    const auto bins = storedSpectrum(trackBytes(u"/p", r), 2);
    for (std::size_t k = 0; k < analysis::kSpectrumSize; ++k) {
        const std::size_t m = analysis::kSpectrumSize - k;
        const float expected =
            k < analysis::kComparedSpectrumBins ? r.meanSpectrum[k]
            : GetParam().analysed               ? static_cast<float>(k) * 0.5f
                                  : r.meanSpectrum[m] / static_cast<float>(m + 1) * static_cast<float>(k + 1);
        ASSERT_EQ(bins[k], expected) << "bin " << k;
    }
    if (!GetParam().analysed) {
        // The mirror of a tilted spectrum: bin k against bin 2048 - k, each without its tilt.
        EXPECT_NEAR(bins[1500] / 1501.0f, bins[548] / 549.0f, 1e-6f);
    }
}

INSTANTIATE_TEST_SUITE_P(Records, CacheSpectrum,
                         ::testing::Values(SpectrumCase{"analysed", true},
                                           SpectrumCase{"fromTheTable", false}),
                         [](const auto& p) { return std::string(p.param.name); });

// A file written with every bin (by this version or an older one) loads the compared bins, passes over
// the rest exactly, and goes on with the texts and the next record; the table keeps no upper bins.
TEST_F(CacheFile, RecordsWithEveryBinLoadTheComparedOnes) {
    std::vector<analysis::TrackRecord> written = {makeRecord(3), makeRecord(4)};
    written[0].spectrumRest.assign(analysis::kSpectrumSize - analysis::kComparedSpectrumBins, -7.5f);
    std::vector<std::byte> bytes = headerBytes();
    put(bytes, trackBytes(u"/m/a", written[0]));
    put(bytes, trackBytes(u"/m/b", written[1]));
    put(bytes, pairBytes(u"/m/a", u"/m/b"));
    writeBytes(file, bytes);
    TrackStore store(explicitCache(file));
    ASSERT_EQ(store.openCache(), S_OK);
    EXPECT_EQ(store.lastLoad().parse.goodEnd, bytes.size());
    EXPECT_EQ(store.ignoreSet().size(), 1u);
    ASSERT_EQ(store.tracksKnown(), 2);
    for (const auto& [path, record] : store.table()) {
        EXPECT_TRUE(sameContent(record, written[path == u"/m/a" ? 0 : 1]));
        EXPECT_TRUE(record.spectrumRest.empty());
    }
    // Written back from the table, a record keeps its place in an older reader's layout.
    EXPECT_EQ(trackBytes(u"/m/a", *store.table().find(u"/m/a")).size(),
              trackBytes(u"/m/a", written[0]).size());
}

// An excerpt as the analysis reads one: a few tones over a little noise.
std::vector<float> excerpt(float level) {
    std::mt19937 rng(21);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    std::vector<float> x(20 * 2048);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / 22050.0;
        x[i] = level *
               (static_cast<float>(0.4 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 1375 * t)) +
                noise(rng));
    }
    return x;
}

// A scan from the cache reports what the scan that analysed the files reported: an analysed record
// read back from the file keeps its spectrum to the last bit. A file written by a version that kept
// the spectrum as plain floats loads too, rounded as an analysis now rounds; written back, it stays so.
TEST_F(CacheFile, SpectraReadBackCompareAsAnalysed) {
    analysis::SpectrumProfile spectra;
    analysis::TrackRecord analysed = makeRecord(1);
    ASSERT_EQ(spectra.compute(excerpt(0.5f), analysed), S_OK);
    analysis::TrackRecord quiet = makeRecord(1);
    ASSERT_EQ(spectra.compute(excerpt(1e-20f), quiet), S_OK);
    std::array<float, analysis::kComparedSpectrumBins> older;
    for (std::size_t k = 0; k < older.size(); ++k) {
        older[k] =
            static_cast<float>(k + 1) / 2048.0f * (1.0f + 0.3f * std::sin(0.7f * static_cast<float>(k)));
    }
    std::vector<std::byte> olderBytes = trackBytes(u"/m/o", makeRecord(3));
    std::memcpy(&olderBytes[8 + 2 + 2 * 4 + 400 + 40], older.data(), sizeof older);
    writeBytes(file,
               assemble({trackBytes(u"/m/a", analysed), trackBytes(u"/m/q", quiet), olderBytes}, 3).bytes);
    TrackStore store(explicitCache(file));
    ASSERT_EQ(store.openCache(), S_OK);
    ASSERT_EQ(store.tracksKnown(), 3);
    const analysis::TrackRecord& loaded = *store.table().find(u"/m/a");
    const analysis::TrackRecord& loadedQuiet = *store.table().find(u"/m/q");
    const analysis::TrackRecord& loadedOlder = *store.table().find(u"/m/o");
    EXPECT_EQ(loaded.meanSpectrum, analysed.meanSpectrum);
    EXPECT_EQ(loadedQuiet.meanSpectrum, quiet.meanSpectrum);
    EXPECT_EQ(analysis::compareContent(loaded, loadedQuiet), analysis::compareContent(analysed, quiet));
    EXPECT_GT(analysis::compareContent(analysed, quiet), 0.99f) << "the same music at another level";
    for (std::size_t k = 0; k < older.size(); ++k) {
        ASSERT_NEAR(loadedOlder.meanSpectrum[k], older[k], older[k] * 0x1p-11f) << "bin " << k;
    }
    analysis::HalfSpectrum writtenBack;
    const std::vector<float> bins = storedSpectrum(trackBytes(u"/m/o", loadedOlder), 4);
    writtenBack.assign(bins.data());
    EXPECT_EQ(writtenBack, loadedOlder.meanSpectrum);
}

struct HeaderCase {
    const char* name;
    bool exists;
    std::vector<std::byte> content;
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

class CacheHeader : public CacheFolder, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(CacheHeader, IsResetToTheCurrentHeaderAlone) {
    if (GetParam().exists) {
        writeBytes(file, GetParam().content);
    }
    TrackStore store(explicitCache(file));
    ASSERT_EQ(store.openCache(), S_OK);
    EXPECT_EQ(store.tracksKnown(), 0);
    EXPECT_EQ(readBytes(file), headerBytes());
    EXPECT_EQ(store.cacheEndOffset(), 32u);
}

std::vector<std::byte> olderVersion(bool withRecords) {
    std::vector<std::byte> b(32, std::byte{0});
    const char* text = "Tonemirror 0.81";
    for (std::size_t i = 0; i < std::strlen(text); ++i) {
        b[i] = static_cast<std::byte>(text[i]);
    }
    if (withRecords) {
        put(b, trackBytes(u"/old.mp3", makeRecord(1)));
    }
    return b;
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheHeader,
                         ::testing::Values(HeaderCase{"Missing", false, {}}, HeaderCase{"Empty", true, {}},
                                           HeaderCase{"CutOffHeader", true,
                                                      [] {
                                                          auto b = headerBytes();
                                                          b.resize(20);
                                                          return b;
                                                      }()},
                                           HeaderCase{"OlderVersion32Bytes", true, olderVersion(false)},
                                           HeaderCase{"OlderVersionWithRecords", true, olderVersion(true)},
                                           HeaderCase{"HeaderThenOneStrayByte", true,
                                                      [] {
                                                          auto b = headerBytes();
                                                          b.push_back(std::byte{1});
                                                          return b;
                                                      }()}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CacheFormat, EveryCutKeepsExactlyTheCompleteRecordsBeforeIt) {
    const Sample s = makeSample();
    for (std::size_t cut = 0; cut <= s.bytes.size(); ++cut) {
        TrackTable table;
        IgnoreSet ignored;
        const auto r = cache::parse(std::span(s.bytes).first(cut), table, ignored);
        if (cut < 32) {
            ASSERT_FALSE(r.headerValid) << cut;
            ASSERT_EQ(table.size(), 0u);
            continue;
        }
        const auto& b = lastBoundaryAtOrBefore(s, cut);
        ASSERT_EQ(r.goodEnd, b.end) << "cut at " << cut;
        ASSERT_EQ(table.size(), b.tracks) << "cut at " << cut;
        ASSERT_EQ(ignored.size(), b.pairs) << "cut at " << cut;
    }
}

TEST_F(CacheFile, AfterACutAtAnyOffsetTheNextAppendLoadsCompletely) {
    const Sample s = makeSample();
    // Every offset inside the small records and around each boundary, a stride elsewhere: each
    // step opens and rewrites the file twice.
    std::vector<std::size_t> cuts;
    for (std::size_t cut = 0; cut <= s.bytes.size(); ++cut) {
        bool near = cut % 97 == 0;
        for (const auto& b : s.boundaries) {
            near = near || (cut + 40 >= b.end && cut <= b.end + 40);
        }
        if (near) {
            cuts.push_back(cut);
        }
    }
    for (const std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        writeBytes(file, {s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(cut)});
        const std::size_t tracks = cut < 32 ? 0 : lastBoundaryAtOrBefore(s, cut).tracks;
        expectAppendLoadsCompletely(file, tracks);
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

TEST_F(CacheFile, RandomBitFlipsNeverCrashAndTheNextAppendLoadsCompletely) {
    const Sample s = makeSample();
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<std::size_t> byteAt(0, s.bytes.size() - 1);
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        auto bytes = s.bytes;
        const int flips = 1 + round % 3;
        for (int f = 0; f < flips; ++f) {
            // Bias towards the heads, lengths and markers, where a flip changes the structure.
            std::size_t at = byteAt(rng);
            if (round % 2 == 0) {
                const auto& b = s.boundaries[at % (s.boundaries.size() - 1)];
                at = b.end + (at % 12);
            }
            bytes[at] ^= static_cast<std::byte>(1u << (rng() % 8));
        }
        TrackTable table;
        IgnoreSet ignored;
        const auto parsed = cache::parse(bytes, table, ignored);
        ASSERT_LE(parsed.goodEnd, bytes.size());
        writeBytes(file, bytes);
        const std::size_t expected = parsed.headerValid ? table.size() : 0;
        expectAppendLoadsCompletely(file, expected);
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

struct RuleCase {
    const char* name;
    std::vector<std::byte> tail; // appended after the header and one good track
    std::size_t tracks;          // tracks loaded in total
    std::size_t pairs;
    bool tailKept; // the whole file is good
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.name;
}

class CacheRecordRules : public CacheFolder, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(CacheRecordRules, LoadStopsAtTheFirstBadRecord) {
    auto bytes = headerBytes();
    put(bytes, trackBytes(u"/first.mp3", makeRecord(1)));
    const std::size_t goodEnd = bytes.size();
    put(bytes, GetParam().tail);
    writeBytes(file, bytes);

    TrackStore store(explicitCache(file));
    ASSERT_EQ(store.openCache(), S_OK);
    EXPECT_EQ(store.tracksKnown(), static_cast<std::int32_t>(GetParam().tracks));
    EXPECT_EQ(store.ignoreSet().size(), GetParam().pairs);
    EXPECT_EQ(std::filesystem::file_size(file), GetParam().tailKept ? bytes.size() : goodEnd);
    const auto* first = store.table().find(u"/first.mp3");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(sameContent(*first, makeRecord(1)));
}

std::vector<std::byte> withPathLength(std::int16_t n) {
    auto b = trackBytes(u"/zero.mp3", makeRecord(2));
    b[8] = static_cast<std::byte>(static_cast<std::uint16_t>(n) & 0xFF);
    b[9] = static_cast<std::byte>(static_cast<std::uint16_t>(n) >> 8);
    return b;
}

std::vector<std::byte> concat(std::initializer_list<std::vector<std::byte>> parts) {
    std::vector<std::byte> out;
    for (const auto& p : parts) {
        put(out, p);
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheRecordRules,
    ::testing::Values(
        RuleCase{"PathLengthZero", concat({withPathLength(0), trackBytes(u"/later.mp3", makeRecord(3))}), 1,
                 0, false},
        RuleCase{"PathLengthNegative", withPathLength(-2), 1, 0, false},
        RuleCase{"SamePathTwiceFirstWins", trackBytes(u"/first.mp3", makeRecord(7)), 1, 0, true},
        RuleCase{"WrongMarker",
                 [] {
                     auto b = trackBytes(u"/bad.mp3", makeRecord(4));
                     b.back() = std::byte{'X'};
                     return b;
                 }(),
                 1, 0, false},
        RuleCase{"LegacyPairsAndUnknownKinds",
                 concat({pairBytes(u"/a", u"/b"), unknownBytes(9, 3, 3), pairBytes(u"/b", u"/a"),
                         pairBytes(u"/a", u"/b"), trackBytes(u"/second.mp3", makeRecord(5))}),
                 2, 2, true},
        RuleCase{"PairWithEmptySecondPath",
                 [] {
                     auto b = pairBytes(u"/a", u"/b");
                     b[14] = std::byte{0}; // second length
                     return b;
                 }(),
                 1, 0, false},
        // Skipping past the end of the file would make later appends start beyond it.
        RuleCase{"UnknownKindReachingPastTheEnd", unknownBytes(3, 1000, 10), 1, 0, false},
        RuleCase{"UnknownKindHugeLength", unknownBytes(0xFFFFFFFF, 0xFFFFFFF0, 4), 1, 0, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CacheFile, RefusesRecordsThatDoNotFitTheLengthFields) {
    {
        TrackStore store(explicitCache(file));
        ASSERT_EQ(store.openCache(), S_OK);
        TableLockHolder hold(store.lock());
        auto longest = makeRecord(1);
        longest.albumText.assign(32767, u'x');
        EXPECT_EQ(store.appendRecord(std::u16string(32767, u'p'), longest), S_OK);
        const auto sizeAfterGood = std::filesystem::file_size(file);
        auto tooLong = makeRecord(2);
        tooLong.titleText.assign(32768, u'x');
        EXPECT_EQ(store.appendRecord(u"/ok/path.mp3", tooLong), E_INVALIDARG);
        EXPECT_EQ(store.appendRecord(std::u16string(32768, u'p'), makeRecord(3)), E_INVALIDARG);
        EXPECT_EQ(store.appendRecord(u"", makeRecord(4)), E_INVALIDARG);
        EXPECT_EQ(std::filesystem::file_size(file), sizeAfterGood);
        EXPECT_EQ(store.appendRecord(u"/after.mp3", makeRecord(5)), S_OK);
    }
    TrackStore store(explicitCache(file));
    ASSERT_EQ(store.openCache(), S_OK);
    EXPECT_EQ(store.tracksKnown(), 2);
    EXPECT_EQ(store.lastLoad().droppedBytes, 0u);
}

TEST_F(CacheFile, ASecondCopyCannotOpenALockedCacheAndFallsBack) {
    const StorageLocations folders = programAndUserFolders("user/data/Tonemirror");

    TrackStore first(folders);
    ASSERT_EQ(first.openCache(), S_OK);
    EXPECT_EQ(first.cachePath(), folders.programFolder / "cache.dat");

    TrackStore second(folders);
    ASSERT_EQ(second.openCache(), S_OK);
    EXPECT_EQ(second.cachePath(), folders.userDataFolder / "cache.dat");
    ASSERT_EQ(second.cacheAttempts().size(), 2u);
    EXPECT_EQ(second.cacheAttempts()[0].result, CacheFile::OpenResult::Locked);

    // An explicit file has no fallback.
    TrackStore third(explicitCache(folders.programFolder / "cache.dat"));
    EXPECT_EQ(third.openCache(), E_FAIL);
    EXPECT_FALSE(third.hasCacheFile());
    TableLockHolder hold(third.lock());
    EXPECT_EQ(third.appendRecord(u"/x.mp3", makeRecord(1)), E_FAIL);
    // The table still works in memory.
    EXPECT_TRUE(third.table().insert(u"/x.mp3", makeRecord(1)));
    EXPECT_EQ(third.tracksKnown(), 1);
}

TEST_F(CacheFile, NoUsableLocationFails) {
    StorageLocations none;
    none.programFolder = dir / "missing";
    writeBytes(dir / "plainfile", {});
    none.userDataFolder = dir / "plainfile" / "Tonemirror"; // cannot be created under a file
    TrackStore store(none);
    EXPECT_EQ(store.openCache(), E_FAIL);
    EXPECT_EQ(store.cacheAttempts().size(), 2u);
}

TEST_F(CacheFile, ClearEmptiesTableAndPairsAndCutsTheFile) {
    auto bytes = headerBytes();
    put(bytes, trackBytes(u"/a.mp3", makeRecord(1)));
    put(bytes, pairBytes(u"/a.mp3", u"/b.mp3"));
    writeBytes(file, bytes);
    {
        TrackStore store(explicitCache(file));
        ASSERT_EQ(store.openCache(), S_OK);
        ASSERT_EQ(store.tracksKnown(), 1);
        ASSERT_TRUE(store.isIgnored(u"/b.mp3", u"/a.mp3"));
        {
            TableLockHolder hold(store.lock());
            ASSERT_EQ(store.appendRecord(u"/c.mp3", makeRecord(2)), S_OK);
        }
        EXPECT_EQ(store.clearCache(), S_OK);
        EXPECT_EQ(store.tracksKnown(), 0);
        EXPECT_TRUE(store.table().empty());
        EXPECT_TRUE(store.ignoreSet().empty());
        EXPECT_EQ(readBytes(file), headerBytes());
        TableLockHolder hold(store.lock());
        ASSERT_EQ(store.appendRecord(u"/d.mp3", makeRecord(3)), S_OK);
    }
    TrackStore store(explicitCache(file));
    ASSERT_EQ(store.openCache(), S_OK);
    EXPECT_EQ(store.tracksKnown(), 1);
    EXPECT_NE(store.table().find(u"/d.mp3"), nullptr);
}

// --- per-track details records ---

namespace details {

analysis::FileStamp stamp(unsigned n) {
    analysis::FileStamp s;
    s.known = true;
    s.size = 1000 + n;
    s.modifiedSeconds = 1700000000 + static_cast<std::int64_t>(n);
    s.modifiedNanoseconds = 123456789u + n;
    return s;
}

// stamp() numbers whose nanoseconds are the last of a second, and a whole second.
constexpr unsigned kLastNanosecond = 999999999u - 123456789u;
constexpr unsigned kWholeSecondOfNanoseconds = kLastNanosecond + 1;

void le(std::vector<std::byte>& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
    }
}

std::vector<std::byte> stampField(const analysis::FileStamp& s, std::uint32_t length = 20) {
    std::vector<std::byte> f;
    le(f, 1, 2);
    le(f, length, 4);
    le(f, s.size, 8);
    le(f, static_cast<std::uint64_t>(s.modifiedSeconds), 8);
    le(f, s.modifiedNanoseconds, 4);
    f.resize(6 + std::min<std::size_t>(length, 20), std::byte{0});
    f.resize(6 + length, std::byte{0x33});
    return f;
}

// A details record built by hand from raw fields; `bodyExtra` is added to the declared body length.
std::vector<std::byte> record(std::u16string_view path, const std::vector<std::vector<std::byte>>& fields,
                              std::int64_t bodyExtra = 0) {
    std::vector<std::byte> body;
    le(body, path.size(), 2);
    for (const char16_t c : path) {
        le(body, c, 2);
    }
    for (const auto& f : fields) {
        put(body, f);
    }
    body.insert(body.end(), {std::byte{0xFF}, std::byte{'E'}, std::byte{'N'}, std::byte{'D'}});
    std::vector<std::byte> out;
    le(out, cache::kTrackDetails, 4);
    le(out, static_cast<std::uint64_t>(static_cast<std::int64_t>(body.size()) + bodyExtra), 4);
    put(out, body);
    return out;
}

std::vector<std::byte> stamped(std::u16string_view path, unsigned seed, unsigned stampNumber) {
    analysis::TrackRecord r = makeRecord(seed);
    r.fileStamp = stamp(stampNumber);
    std::vector<std::byte> b;
    EXPECT_EQ(cache::serializeTrackWithDetails(path, r, b), S_OK);
    return b;
}

std::vector<std::byte> detailsOnly(std::u16string_view path, unsigned stampNumber) {
    analysis::TrackRecord r;
    r.fileStamp = stamp(stampNumber);
    std::vector<std::byte> b;
    EXPECT_EQ(cache::serializeDetails(path, r, b), S_OK);
    return b;
}

} // namespace details

struct DetailsCase {
    const char* name;
    std::vector<std::vector<std::byte>> records; // after the header
    unsigned seedOfP;                            // whose analysis /p holds
    unsigned stampOfP;                           // 0: none
    std::size_t goodRecords;                     // records of the list that load
};

void PrintTo(const DetailsCase& c, std::ostream* os) {
    *os << c.name;
}

class CacheDetailsRules : public ::testing::TestWithParam<DetailsCase> {};

TEST_P(CacheDetailsRules, ApplyToTheirTrackAndOnlyReplaceWithANewerAnalysis) {
    const DetailsCase& c = GetParam();
    const Assembled cache = assemble(c.records, c.goodRecords);
    TrackTable table;
    IgnoreSet ignored;
    const auto parsed = cache::parse(cache.bytes, table, ignored);
    EXPECT_EQ(parsed.goodEnd, cache.goodEnd);
    const analysis::TrackRecord* p = table.find(u"/p");
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(sameContent(*p, makeRecord(c.seedOfP)));
    if (c.stampOfP == 0) {
        EXPECT_FALSE(p->fileStamp.known);
    } else {
        EXPECT_EQ(p->fileStamp, details::stamp(c.stampOfP));
    }
    EXPECT_EQ(table.find(u"/x"), nullptr) << "details never make a track";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheDetailsRules,
    ::testing::Values(
        DetailsCase{"TrackWithItsDetails", {details::stamped(u"/p", 1, 1)}, 1, 1, 1},
        DetailsCase{"OlderTrackCompletedLater",
                    {trackBytes(u"/p", makeRecord(1)), trackBytes(u"/q", makeRecord(2)),
                     details::detailsOnly(u"/p", 4)},
                    1,
                    4,
                    3},
        DetailsCase{
            "CompletionNeverOverridesAStamp",
            {details::stamped(u"/p", 1, 1), trackBytes(u"/q", makeRecord(2)), details::detailsOnly(u"/p", 2)},
            1,
            1,
            3},
        DetailsCase{
            "NewerAnalysisReplaces", {details::stamped(u"/p", 1, 1), details::stamped(u"/p", 2, 2)}, 2, 2, 2},
        DetailsCase{"RepeatWithoutDetailsLeavesTheFirst",
                    {details::stamped(u"/p", 1, 1), trackBytes(u"/p", makeRecord(2))},
                    1,
                    1,
                    2},
        DetailsCase{"DetailsSeparatedFromTheirTrackDoNotReplace",
                    {details::stamped(u"/p", 1, 1), trackBytes(u"/p", makeRecord(2)),
                     trackBytes(u"/q", makeRecord(3)), details::detailsOnly(u"/p", 2)},
                    1,
                    1,
                    4},
        DetailsCase{"DetailsOfAnUnknownPathAreIgnored",
                    {details::detailsOnly(u"/x", 3), trackBytes(u"/p", makeRecord(1))},
                    1,
                    0,
                    2},
        DetailsCase{
            "UnknownFieldIsSkipped",
            {trackBytes(u"/p", makeRecord(1)),
             details::record(u"/p", {{std::byte{77}, std::byte{0}, std::byte{3}, std::byte{0}, std::byte{0},
                                      std::byte{0}, std::byte{9}, std::byte{9}, std::byte{9}},
                                     details::stampField(details::stamp(5))})},
            1,
            5,
            2},
        DetailsCase{"LastNanosecondOfASecondIsKept",
                    {trackBytes(u"/p", makeRecord(1)),
                     details::record(u"/p", {details::stampField(details::stamp(details::kLastNanosecond))})},
                    1,
                    details::kLastNanosecond,
                    2},
        DetailsCase{"AWholeSecondOfNanosecondsEndsTheLoad",
                    {trackBytes(u"/p", makeRecord(1)),
                     details::record(
                         u"/p", {details::stampField(details::stamp(details::kWholeSecondOfNanoseconds))}),
                     trackBytes(u"/q", makeRecord(2))},
                    1,
                    0,
                    1},
        DetailsCase{"KnownFieldOfTheWrongLengthEndsTheLoad",
                    {trackBytes(u"/p", makeRecord(1)),
                     details::record(u"/p", {details::stampField(details::stamp(5), 21)}),
                     trackBytes(u"/q", makeRecord(2))},
                    1,
                    0,
                    1},
        DetailsCase{"FieldReachingPastItsRecordEndsTheLoad",
                    {trackBytes(u"/p", makeRecord(1)),
                     details::record(u"/p", {details::stampField(details::stamp(5))}, -2)},
                    1,
                    0,
                    1},
        DetailsCase{"BodyReachingPastTheFileEndsTheLoad",
                    {trackBytes(u"/p", makeRecord(1)),
                     details::record(u"/p", {details::stampField(details::stamp(5))}, 50)},
                    1,
                    0,
                    1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CacheFormat, AReaderThatSkipsUnknownKindsWalksTracksWithDetailsHeadByHead) {
    // What an older version sees: each head's body length leads exactly to the next head.
    auto bytes = headerBytes();
    put(bytes, details::stamped(u"/p", 1, 1));
    put(bytes, details::detailsOnly(u"/p", 2));
    put(bytes, trackBytes(u"/q", makeRecord(2)));
    std::size_t pos = cache::kHeaderSize;
    std::vector<std::uint32_t> types;
    while (pos + 8 <= bytes.size()) {
        std::uint32_t head[2];
        std::memcpy(head, &bytes[pos], 8);
        types.push_back(head[0]);
        pos += 8 + head[1];
    }
    EXPECT_EQ(pos, bytes.size());
    EXPECT_EQ(types, (std::vector<std::uint32_t>{1, 3, 3, 1}));
}

TEST_F(CacheFile, StampsSurviveAppendAndReload) {
    {
        TrackStore store(explicitCache(file));
        ASSERT_EQ(store.openCache(), S_OK);
        TableLockHolder hold(store.lock());
        auto r = makeRecord(1);
        r.fileStamp = details::stamp(1);
        ASSERT_EQ(store.appendRecord(u"/s.mp3", r), S_OK);
        ASSERT_EQ(store.appendRecord(u"/old.mp3", makeRecord(2)), S_OK);
        auto completed = makeRecord(2);
        completed.fileStamp = details::stamp(2);
        ASSERT_EQ(store.appendDetails(u"/old.mp3", completed), S_OK);
        EXPECT_EQ(store.appendDetails(u"/old.mp3", makeRecord(2)), E_INVALIDARG) << "nothing to write";
    }
    TrackStore store(explicitCache(file));
    ASSERT_EQ(store.openCache(), S_OK);
    EXPECT_EQ(store.lastLoad().droppedBytes, 0u);
    EXPECT_EQ(store.lastLoad().parse.detailsRecords, 2u);
    EXPECT_EQ(store.table().find(u"/s.mp3")->fileStamp, details::stamp(1));
    EXPECT_EQ(store.table().find(u"/old.mp3")->fileStamp, details::stamp(2));
}
TEST_F(CacheFile, AnotherProgramsFileIsNeverWrittenAndTheNextPlaceIsTried) {
    const StorageLocations folders = programAndUserFolders("user");
    std::vector<std::byte> mp3(4000, std::byte{0x55});
    mp3[0] = std::byte{'I'}, mp3[1] = std::byte{'D'}, mp3[2] = std::byte{'3'};
    writeBytes(folders.programFolder / "cache.dat", mp3);

    TrackStore store(folders);
    ASSERT_EQ(store.openCache(), S_OK);
    EXPECT_EQ(store.cachePath(), folders.userDataFolder / "cache.dat");
    EXPECT_EQ(store.cacheAttempts()[0].result, CacheFile::OpenResult::Foreign);
    EXPECT_EQ(readBytes(folders.programFolder / "cache.dat"), mp3);

    TrackStore explicitOne(explicitCache(folders.programFolder / "cache.dat"));
    EXPECT_EQ(explicitOne.openCache(), E_FAIL);
    EXPECT_TRUE(explicitOne.lastLoad().foreign);
    EXPECT_EQ(readBytes(folders.programFolder / "cache.dat"), mp3);

    // A few bytes of text are no header whose writing broke off.
    const std::string text = "to do\n";
    std::vector<std::byte> note(text.size());
    std::memcpy(note.data(), text.data(), text.size());
    writeBytes(folders.programFolder / "note.txt", note);
    TrackStore shortOne(explicitCache(folders.programFolder / "note.txt"));
    EXPECT_EQ(shortOne.openCache(), E_FAIL);
    EXPECT_EQ(readBytes(folders.programFolder / "note.txt"), note);
}

// --- the high cut-off in details records ---

namespace cutoffs {

std::vector<std::byte> field(std::uint32_t hz, std::uint32_t length = 4) {
    std::vector<std::byte> f;
    details::le(f, static_cast<std::uint64_t>(cache::DetailsField::HighCutoff), 2);
    details::le(f, length, 4);
    details::le(f, hz, length);
    return f;
}

} // namespace cutoffs

struct CutoffCase {
    const char* name;
    std::vector<std::vector<std::byte>> records; // after the header
    std::optional<std::uint32_t> cutoffOfP;      // nullopt: not known
    std::size_t goodRecords;
};

void PrintTo(const CutoffCase& c, std::ostream* os) {
    *os << c.name;
}

class CacheCutoffRules : public ::testing::TestWithParam<CutoffCase> {};

// Known (a cut-off or none) only when a record said so; a field of the wrong length is damage.
TEST_P(CacheCutoffRules, KnownOnlyWhenStored) {
    const CutoffCase& c = GetParam();
    const Assembled cache = assemble(c.records, c.goodRecords);
    TrackTable table;
    IgnoreSet ignored;
    EXPECT_EQ(cache::parse(cache.bytes, table, ignored).goodEnd, cache.goodEnd);
    const analysis::TrackRecord* p = table.find(u"/p");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->highCutoffKnown, c.cutoffOfP.has_value());
    EXPECT_EQ(p->highCutoffHz, c.cutoffOfP.value_or(0));
}

std::vector<std::byte> trackWithCutoff(std::uint32_t hz) {
    analysis::TrackRecord r = makeRecord(1);
    r.fileStamp = details::stamp(1);
    r.highCutoffKnown = true;
    r.highCutoffHz = hz;
    std::vector<std::byte> b;
    EXPECT_EQ(cache::serializeTrackWithDetails(u"/p", r, b), S_OK);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheCutoffRules,
    ::testing::Values(
        CutoffCase{"Written", {trackWithCutoff(16000)}, 16000, 1},
        CutoffCase{"MeasuredWithoutOne", {trackWithCutoff(0)}, 0u, 1},
        CutoffCase{"OlderRecordWithoutTheField", {details::stamped(u"/p", 1, 1)}, std::nullopt, 1},
        CutoffCase{"HandMade",
                   {trackBytes(u"/p", makeRecord(1)),
                    details::record(u"/p", {details::stampField(details::stamp(1)), cutoffs::field(19000)})},
                   19000u,
                   2},
        CutoffCase{
            "WrongLengthEndsTheLoad",
            {trackBytes(u"/p", makeRecord(1)),
             details::record(u"/p", {details::stampField(details::stamp(1)), cutoffs::field(19000, 2)})},
            std::nullopt,
            1}),
    [](const auto& test) { return std::string(test.param.name); });

// --- acoustic prints in details records ---

namespace prints {

analysis::AcousticPrint print(unsigned n) {
    analysis::AcousticPrint p(200);
    std::mt19937 rng(n);
    for (auto& w : p) {
        w = static_cast<std::uint32_t>(rng());
    }
    return p;
}

std::vector<std::byte> field(const std::vector<std::byte>& stored) {
    std::vector<std::byte> f;
    details::le(f, static_cast<std::uint64_t>(cache::DetailsField::AcousticPrint), 2);
    details::le(f, stored.size(), 4);
    put(f, stored);
    return f;
}

std::vector<std::byte> stored(unsigned n,
                              std::uint8_t algorithm = analysis::AcousticFingerprinter::algorithm()) {
    std::vector<std::byte> b;
    analysis::encodeAcousticPrint(print(n), algorithm, b);
    return b;
}

std::vector<std::byte> trackWithPrint(std::u16string_view path, unsigned seed, unsigned stampNumber,
                                      unsigned printNumber, bool isLong = false) {
    analysis::TrackRecord r = makeRecord(seed);
    r.fileStamp = details::stamp(stampNumber);
    r.acousticPrint = print(printNumber);
    r.acousticPrintLong = isLong;
    std::vector<std::byte> b;
    EXPECT_EQ(cache::serializeTrackWithDetails(path, r, b), S_OK);
    return b;
}

// What a verifying scan appends for a cached track that had no print.
std::vector<std::byte> printOnly(std::u16string_view path, unsigned stampNumber, unsigned printNumber,
                                 bool isLong = false) {
    analysis::TrackRecord r;
    r.fileStamp = details::stamp(stampNumber);
    r.acousticPrint = print(printNumber);
    r.acousticPrintLong = isLong;
    std::vector<std::byte> b;
    EXPECT_EQ(cache::serializeDetails(path, r, b), S_OK);
    return b;
}

} // namespace prints

struct PrintCase {
    const char* name;
    std::vector<std::vector<std::byte>> records; // after the header
    unsigned printOfP;                           // 0: none
    std::size_t goodRecords;
    bool printIsLong = false;
};

void PrintTo(const PrintCase& c, std::ostream* os) {
    *os << c.name;
}

class CachePrintRules : public ::testing::TestWithParam<PrintCase> {};

TEST_P(CachePrintRules, APrintBelongsToOneAnalysisOfOneStateOfTheFile) {
    const PrintCase& c = GetParam();
    const Assembled cache = assemble(c.records, c.goodRecords);
    TrackTable table;
    IgnoreSet ignored;
    EXPECT_EQ(cache::parse(cache.bytes, table, ignored).goodEnd, cache.goodEnd);
    const analysis::TrackRecord* p = table.find(u"/p");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->acousticPrint, c.printOfP == 0 ? analysis::AcousticPrint{} : prints::print(c.printOfP));
    EXPECT_EQ(p->acousticPrintLong, c.printIsLong);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CachePrintRules,
    ::testing::Values(
        PrintCase{"TrackWithItsPrint", {prints::trackWithPrint(u"/p", 1, 1, 1)}, 1, 1},
        PrintCase{
            "AddedLaterForTheSameFile",
            {details::stamped(u"/p", 1, 1), trackBytes(u"/q", makeRecord(2)), prints::printOnly(u"/p", 1, 2)},
            2,
            3},
        PrintCase{"ForAnotherStateOfTheFileIgnored",
                  {details::stamped(u"/p", 1, 1), prints::printOnly(u"/p", 2, 2)},
                  0,
                  2},
        PrintCase{"NeverReplacedByALaterOne",
                  {prints::trackWithPrint(u"/p", 1, 1, 1), prints::printOnly(u"/p", 1, 2)},
                  1,
                  2},
        PrintCase{"NewerAnalysisWithoutOneDropsIt",
                  {prints::trackWithPrint(u"/p", 1, 1, 1), details::stamped(u"/p", 2, 2)},
                  0,
                  2},
        PrintCase{"OlderTrackCompletedWithStampAndPrint",
                  {trackBytes(u"/p", makeRecord(1)), prints::printOnly(u"/p", 3, 4)},
                  4,
                  2},
        PrintCase{"LongPrintKeepsItsKind", {prints::trackWithPrint(u"/p", 1, 1, 1, true)}, 1, 1, true},
        PrintCase{"LongPrintReplacesTheExcerptsOne",
                  {prints::trackWithPrint(u"/p", 1, 1, 1), prints::printOnly(u"/p", 1, 2, true)},
                  2,
                  2,
                  true},
        PrintCase{"ExcerptsPrintNeverReplacesALongOne",
                  {prints::trackWithPrint(u"/p", 1, 1, 1, true), prints::printOnly(u"/p", 1, 2)},
                  1,
                  2,
                  true},
        PrintCase{"LongPrintOfAnotherStateIgnored",
                  {prints::trackWithPrint(u"/p", 1, 1, 1), prints::printOnly(u"/p", 2, 2, true)},
                  1,
                  2},
        PrintCase{"AnotherAlgorithmsPrintIsSkipped",
                  {trackBytes(u"/p", makeRecord(1)),
                   details::record(u"/p", {details::stampField(details::stamp(5)),
                                           prints::field(prints::stored(3, 99))}),
                   trackBytes(u"/q", makeRecord(2))},
                  0,
                  3},
        PrintCase{"CountDisagreeingWithTheFieldEndsTheLoad",
                  {trackBytes(u"/p", makeRecord(1)), details::record(u"/p", {prints::field([] {
                                                                         auto b = prints::stored(3);
                                                                         b.resize(b.size() - 4);
                                                                         return b;
                                                                     }())}),
                   trackBytes(u"/q", makeRecord(2))},
                  0,
                  1}),
    [](const auto& p) { return std::string(p.param.name); });
} // namespace
} // namespace tonemirror::engine

namespace tonemirror::engine {
namespace {

// --- what counts as a cache, and how much of a file is read to find out ---

std::vector<std::byte> textBytes(std::string_view text) {
    std::vector<std::byte> b(text.size());
    std::memcpy(b.data(), text.data(), text.size());
    return b;
}

struct ForeignCase {
    const char* name;
    std::vector<std::byte> content;
};

void PrintTo(const ForeignCase& c, std::ostream* os) {
    *os << c.name;
}

class CacheForeign : public CacheFolder, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(CacheForeign, AFileThatOnlyStartsLikeACacheIsNeverWritten) {
    writeBytes(file, GetParam().content);
    TrackStore store(explicitCache(file));
    EXPECT_EQ(store.openCache(), E_FAIL);
    EXPECT_TRUE(store.lastLoad().foreign);
    EXPECT_EQ(readBytes(file), GetParam().content);
}

std::vector<std::byte> headerWith(std::size_t at, char c) {
    auto b = headerBytes();
    b[at] = static_cast<std::byte>(c);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheForeign,
    ::testing::Values(
        ForeignCase{"ShortNote", textBytes("Tonemirror rocks")},
        ForeignCase{"LongNote", textBytes("Tonemirror settings I tried on the laptop, and why they help:\n"
                                          "- sensitivity 90\n- accurate off\n")},
        ForeignCase{"CrashReport", textBytes("Tonemirror 0.82.0 crash report\nsignal: 11 (SIGSEGV)\n"
                                             "address: 0x0\nthread: 4711\n")},
        ForeignCase{"VersionThenText", textBytes("Tonemirror 0.82 is the version I keep.\n")},
        ForeignCase{"LetterInThePadding", headerWith(30, 'x')},
        ForeignCase{"NoVersion",
                    [] {
                        auto b = headerBytes();
                        std::fill(b.begin() + 11, b.end(), std::byte{0});
                        return b;
                    }()}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CacheFormat, AnyVersionsWholeOrCutHeaderMayBeACache) {
    auto later = textBytes("Tonemirror 1.0.3");
    later.resize(32);
    for (const auto& head : {headerBytes(), olderVersion(false), later, textBytes("Tonem"),
                             textBytes("Tonemirror 0.8"), std::vector<std::byte>{}}) {
        EXPECT_TRUE(cache::mayBeCacheFile(head)) << head.size() << " bytes";
    }
}

// A cache larger than the read window: records cross every window edge, and the file read in
// windows gives what the whole file in memory gives, cut anywhere.
TEST_F(CacheFile, ReadingInWindowsFindsWhatReadingWholeFinds) {
    std::vector<std::byte> bytes = headerBytes();
    for (unsigned i = 0; i < 1100; ++i) {
        auto r = makeRecord(i % 7);
        r.fileStamp = details::stamp(i);
        const std::u16string path = u"/music/" + std::u16string(i % 50, u'x') + u"/" +
                                    std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                                    std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u".mp3";
        std::vector<std::byte> b;
        ASSERT_EQ(cache::serializeTrackWithDetails(path + std::u16string(i / 260, u'y'), r, b), S_OK);
        put(bytes, b);
        if (i % 97 == 0) {
            put(bytes, unknownBytes(9, 300000, 300000));
            put(bytes, pairBytes(path, u"/other.mp3"));
        }
    }
    ASSERT_GT(bytes.size(), 9u << 20);
    for (const std::size_t cut : {bytes.size(), bytes.size() - 1, std::size_t{4u << 20},
                                  std::size_t{(4u << 20) + 77}, bytes.size() / 2 + 13}) {
        const auto slice = std::span(bytes).first(cut);
        writeBytes(file, {slice.begin(), slice.end()});
        TrackTable wholeTable, windowTable;
        IgnoreSet wholePairs, windowPairs;
        const auto whole = cache::parse(slice, wholeTable, wholePairs);
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const auto windowed = cache::parseFile(fd, cut, windowTable, windowPairs);
        ::close(fd);
        ASSERT_TRUE(windowed.has_value());
        EXPECT_EQ(windowed->goodEnd, whole.goodEnd) << "cut at " << cut;
        EXPECT_EQ(windowed->trackRecords, whole.trackRecords) << "cut at " << cut;
        EXPECT_EQ(windowed->detailsRecords, whole.detailsRecords) << "cut at " << cut;
        EXPECT_EQ(windowed->skippedRecords, whole.skippedRecords) << "cut at " << cut;
        EXPECT_EQ(windowPairs.size(), wholePairs.size()) << "cut at " << cut;
        ASSERT_EQ(windowTable.size(), wholeTable.size()) << "cut at " << cut;
        for (const auto& [path, record] : wholeTable) {
            const auto* other = windowTable.find(path);
            ASSERT_NE(other, nullptr);
            EXPECT_EQ(other->fileStamp, record.fileStamp) << "details kept with their track";
        }
    }
}

// A huge file given as the cache costs its header, not its size.
struct HugeCase {
    const char* name;
    std::vector<std::byte> head;
    bool loads;
};

void PrintTo(const HugeCase& c, std::ostream* os) {
    *os << c.name;
}

class CacheHugeFile : public CacheFolder, public ::testing::WithParamInterface<HugeCase> {};

TEST_P(CacheHugeFile, IsJudgedWithoutReadingItWhole) {
    constexpr off_t kSize = off_t{768} << 20;
    writeBytes(file, GetParam().head);
    ASSERT_EQ(::truncate(file.c_str(), kSize), 0); // sparse: costs no disk
    const auto grown = fakes::peakGrowthMiB([&] {
        TrackStore store(explicitCache(file));
        return succeeded(store.openCache()) == GetParam().loads;
    });
    ASSERT_TRUE(grown.has_value());
    EXPECT_LT(*grown, 128) << "MiB resident while loading a " << (kSize >> 20) << " MiB file";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheHugeFile,
    ::testing::Values(HugeCase{"Foreign", textBytes("Tonemirror 0.82.0 crash report\n"), false},
                      HugeCase{"HeaderThenAnOverlongRecord",
                               [] {
                                   auto b = headerBytes();
                                   put(b, unknownBytes(cache::kTrackDetails, 0xFFFFFFF0u, 0));
                                   return b;
                               }(),
                               true}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace tonemirror::engine

namespace tonemirror::engine {
namespace {

// --- which cache a command uses ---

enum class ProgramCache { Missing, Ours, HeldByAnotherCopy, Note };

struct ChoiceCase {
    const char* name;
    ProgramCache program;
    bool choosesProgramFolder;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.name;
}

class CacheChoice : public CacheFile, public ::testing::WithParamInterface<ChoiceCase> {};

// Finding the cache (as 'cache stats' does) and opening it (as a scan does) agree on the file.
TEST_P(CacheChoice, FindingAndOpeningAgree) {
    const StorageLocations folders = programAndUserFolders("user");
    const auto programCache = folders.programFolder / "cache.dat";
    os::LockedFile otherCopy;
    if (GetParam().program == ProgramCache::Note) {
        writeBytes(programCache, textBytes("Tonemirror notes\n"));
    } else if (GetParam().program != ProgramCache::Missing) {
        writeBytes(programCache, headerBytes());
    }
    if (GetParam().program == ProgramCache::HeldByAnotherCopy) {
        ASSERT_EQ(otherCopy.open(programCache, false), os::LockedFile::Result::Ok);
    }
    const auto expected =
        GetParam().choosesProgramFolder ? programCache : folders.userDataFolder / "cache.dat";

    TrackStore store(folders);
    std::vector<TrackStore::CacheAttempt> passedOver;
    EXPECT_EQ(store.findCache(passedOver), std::optional<std::filesystem::path>(expected));
    EXPECT_EQ(passedOver.size(), GetParam().choosesProgramFolder ? 0u : 1u);
    EXPECT_FALSE(std::filesystem::exists(folders.userDataFolder / "cache.dat")) << "finding creates nothing";
    ASSERT_EQ(store.openCache(), S_OK);
    EXPECT_EQ(store.cachePath(), expected);
    EXPECT_EQ(store.cacheAttempts().size(), passedOver.size() + 1);
    for (std::size_t i = 0; i < passedOver.size(); ++i) {
        EXPECT_EQ(store.cacheAttempts()[i].result, passedOver[i].result);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheChoice,
                         ::testing::Values(ChoiceCase{"NothingYet", ProgramCache::Missing, true},
                                           ChoiceCase{"OursInTheProgramFolder", ProgramCache::Ours, true},
                                           ChoiceCase{"HeldByARunningCopy", ProgramCache::HeldByAnotherCopy,
                                                      false},
                                           ChoiceCase{"NoteInTheProgramFolder", ProgramCache::Note, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// Only a build tree's programs keep their data in their own folder.
TEST(StorageLocations, OnlyAFolderMarkedAsABuildTreeIsOne) {
    TempFolder dir;
    EXPECT_FALSE(StorageLocations::isBuildTree(dir.path())) << "an installed copy's folder";
    EXPECT_FALSE(StorageLocations::isBuildTree({}));
    std::filesystem::create_symlink("/etc/hostname", dir / StorageLocations::kBuildTreeMarker);
    EXPECT_FALSE(StorageLocations::isBuildTree(dir.path())) << "a link is no marker";
    std::filesystem::remove(dir / StorageLocations::kBuildTreeMarker);
    writeBytes(dir / StorageLocations::kBuildTreeMarker, textBytes("build tree\n"));
    EXPECT_TRUE(StorageLocations::isBuildTree(dir.path()));
}

} // namespace
} // namespace tonemirror::engine
