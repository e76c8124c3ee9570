// Rescans of a cached library that take the pairs of unchanged tracks from the list the scan before
// left: after any change they must report exactly the pairs of comparing every earlier track.
#include "engine/RescanPairs.h"
#include "audio/AudioSource.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "platform/os/FileIdentity.h"
#include "platform/os/Paths.h"
#include "support/RealShapedRecord.h"
#include "support/RecordingSink.h"
#include "support/SpectrumEdit.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace tonemirror::engine {
namespace {

namespace fs = std::filesystem;

const char16_t* const kWords[] = {u"love", u"night", u"fire", u"rain", u"blue", u"home", u"sky", u"echo"};

std::u16string words(std::mt19937& rng, int count) {
    std::u16string s;
    for (int i = 0; i < count; ++i) {
        s += (i > 0 ? u" " : u"") + std::u16string(kWords[rng() % std::size(kWords)]);
    }
    return s;
}

// Songs and near copies of them at many strengths (some retagged), with and without prints.
analysis::TrackRecord nextRecord(const std::vector<analysis::TrackRecord>& earlier, std::mt19937& rng) {
    std::normal_distribution<float> noise(0.0f, 1.0f);
    analysis::TrackRecord r;
    if (!earlier.empty() && rng() % 3 == 0) {
        r = earlier[rng() % earlier.size()];
        const float strength = 0.005f * static_cast<float>(1 + rng() % 40);
        analysis::editSpectrum(r, [&](auto& s) {
            for (float& v : s) {
                v *= 1.0f + strength * noise(rng);
            }
        });
        r.titleText = rng() % 4 == 0 ? words(rng, 2) : r.titleText;
    } else {
        r = analysis::realShapedRecord(rng);
        r.titleText = words(rng, 1 + static_cast<int>(rng() % 3));
        r.artistText = rng() % 6 == 0 ? std::u16string() : words(rng, 1); // file-name fallbacks
        r.nameText = words(rng, 1) + u" - " + r.titleText;
        r.acousticPrint.resize(120);
        for (auto& w : r.acousticPrint) {
            w = static_cast<std::uint32_t>(rng());
        }
        r.acousticPrintLong = true;
    }
    if (rng() % 8 == 0) {
        r.acousticPrint.clear();
    }
    return r;
}

using PairSet = std::set<std::u16string>;

struct Scan {
    std::int32_t method = ScanSettings::kByTags | ScanSettings::kByContent;
    float threshold = 0.75f;
    bool verify = false;
    bool allPairs = false;
    unsigned workers = 1;
    bool foldersSwapped = false;
};

enum class Change {
    Nothing,
    FilesAdded,
    FilesAddedLast, // all in the folder walked last: the indexes wait for most of the library
    FileChanged,
    FileRemoved,
    ThresholdLowered,
    VerifyOn,
    ListDamaged,
    ListCut,
    FoldersSwapped,
    PairNoLongerIgnored
};

struct RescanCase {
    const char* name;
    Change change;
    bool reused; // whether the rescan takes pairs from the list
    Scan first;
};

class RescanPairsTest : public ::testing::TestWithParam<RescanCase> {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < kTracks; ++i) {
            // A small second folder: swapping the folders turns the order of a few tracks round.
            addTrack(i < kTracks - kSecond ? "a" : "b", "track" + std::to_string(i),
                     nextRecord(records_, rng_));
        }
    }

    StorageLocations where() const {
        StorageLocations w;
        w.cacheFile = folder_ / "cache.dat";
        w.ignoreListFile = folder_ / "ignores.list";
        return w;
    }

    // Writes the file and appends its record, stamped with the file's stamp, to the cache.
    void addTrack(const std::string& sub, const std::string& name, analysis::TrackRecord record,
                  const std::string& content = "x") {
        const fs::path file = folder_ / "music" / sub / (name + ".mp3");
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::trunc) << content;
        const auto id = os::identify(file);
        ASSERT_TRUE(id.has_value());
        record.fileStamp = {true, id->size, id->modifiedSeconds, id->modifiedNanoseconds};
        TrackStore store(where());
        ASSERT_EQ(store.openCache(), S_OK);
        ASSERT_EQ(store.appendRecord(os::fromNativePath(file), record), S_OK);
        records_.push_back(std::move(record));
    }

    // The pairs of one scan, each as "name|name"; `ignored` is ignored in that scan only.
    PairSet scan(const Scan& s, std::size_t* reused = nullptr, const PairSet& ignored = {}) {
        TrackStore store(where());
        EXPECT_EQ(store.openCache(), S_OK);
        for (const std::u16string& pair : ignored) {
            const std::size_t bar = pair.find(u'|');
            store.ignorePair(path(pair.substr(0, bar)), path(pair.substr(bar + 1)));
        }
        fakes::RecordingSink sink;
        ScanEngine engine(
            store,
            [] { return std::make_unique<audio::AudioSource>(std::vector<audio::AudioSource::Decoder>{}); },
            &sink);
        engine.settings().compareMethod = s.method;
        engine.settings().verifyMatches = s.verify;
        engine.settings().contentThreshold = s.threshold;
        engine.settings().tagsThreshold = s.threshold;
        engine.settings().allPairs = s.allPairs;
        engine.settings().contentAxesAt = kAxesAt;
        EXPECT_EQ(engine.createPool(s.workers), S_OK);
        std::vector<std::u16string> folders{os::fromNativePath(folder_ / "music" / "a"),
                                            os::fromNativePath(folder_ / "music" / "b")};
        if (s.foldersSwapped) {
            std::swap(folders[0], folders[1]);
        }
        engine.startScan(folders);
        using namespace std::chrono_literals;
        sink.waitUntil([&] { return engine.control().jobCount() == 0; }, 300s);
        PairSet pairs;
        for (const DuplicatePair& p : engine.takePendingResults().pairs) {
            pairs.insert(std::min(name(p.path1), name(p.path2)) + u"|" +
                         std::max(name(p.path1), name(p.path2)));
        }
        if (reused != nullptr) {
            *reused = engine.tracksFromLastScan();
        }
        return pairs;
    }

    static std::u16string name(const std::u16string& path) { return path.substr(path.rfind(u'/') + 1); }
    std::u16string path(const std::u16string& fileName) const {
        const std::string narrow(fileName.begin(), fileName.end());
        const int index = std::stoi(narrow.substr(5));
        const char* sub = static_cast<std::size_t>(index) < kTracks - kSecond ? "a" : "b";
        return os::fromNativePath(folder_ / "music" / sub / narrow);
    }

    // Applies the change and returns the settings of the rescan.
    Scan change(Change c, Scan s, const PairSet& firstPairs) {
        const fs::path list = RescanPairs::fileFor(folder_ / "cache.dat");
        switch (c) {
        case Change::Nothing:
        case Change::PairNoLongerIgnored:
            break;
        case Change::FilesAdded:
            for (std::size_t i = 0; i < kAdded; ++i) {
                addTrack(i % 2 == 0 ? "a" : "b", "new" + std::to_string(i), nextRecord(records_, rng_));
            }
            break;
        case Change::FilesAddedLast:
            for (std::size_t i = 0; i < kAdded; ++i) {
                addTrack("b", "new" + std::to_string(i), nextRecord(records_, rng_));
            }
            break;
        case Change::FileChanged:
            changeTrack(firstPairs);
            break;
        case Change::FileRemoved:
            fs::remove(folder_ / "music" / "a" / "track7.mp3");
            break;
        case Change::ThresholdLowered:
            s.threshold -= 0.1f;
            break;
        case Change::VerifyOn:
            s.verify = true;
            break;
        case Change::ListDamaged: {
            std::fstream f(list, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<std::streamoff>(fs::file_size(list) / 2));
            f.put('\x5a');
            break;
        }
        case Change::ListCut:
            fs::resize_file(list, fs::file_size(list) - 9);
            break;
        case Change::FoldersSwapped:
            s.foldersSwapped = true;
            break;
        }
        return s;
    }

    // Track 20 becomes a near copy of track 3 (new content, new stamp), so it loses its old pairs
    // and gains new ones.
    void changeTrack(const PairSet& firstPairs) {
        EXPECT_EQ(firstPairs.count(u"track20.mp3|track3.mp3"), 0u) << "pick tracks that do not pair yet";
        analysis::TrackRecord copy = records_[3];
        analysis::editSpectrum(copy, [](auto& s) { s[5] *= 1.01f; });
        addTrack("a", "track20", copy, "changed");
    }

    static constexpr std::size_t kTracks = 320;
    static constexpr std::size_t kSecond = 40;
    static constexpr std::size_t kAxesAt = 90;
    static constexpr std::size_t kAdded = 30;
    fakes::TempFolder folder_;
    std::mt19937 rng_{2121};
    std::vector<analysis::TrackRecord> records_;
};

TEST_P(RescanPairsTest, RescanReportsExactlyTheAllPairsSet) {
    const RescanCase& c = GetParam();
    PairSet ignored;
    const PairSet first = scan(c.first);
    ASSERT_GT(first.size(), 20u) << "the library should hold pairs";
    if (c.change == Change::PairNoLongerIgnored) {
        ignored.insert(*first.begin());
        const PairSet withIgnored = scan(c.first, nullptr, ignored);
        ASSERT_EQ(withIgnored.size() + 1, first.size());
    }
    const Scan again = change(c.change, c.first, first);
    std::size_t reused = 0;
    const PairSet rescan = scan(again, &reused);
    Scan reference = again;
    reference.allPairs = true;
    std::size_t referenceReused = 1;
    const PairSet expected = scan(reference, &referenceReused);
    EXPECT_EQ(rescan, expected);
    EXPECT_EQ(referenceReused, 0u) << "comparing every pair takes nothing from the list";
    EXPECT_LE(reused, kTracks + kAdded) << "a track counts once";
    if (c.reused) {
        EXPECT_GT(reused, kTracks / 2);
    } else {
        EXPECT_EQ(reused, 0u);
    }
    if (c.change == Change::Nothing || c.change == Change::PairNoLongerIgnored) {
        EXPECT_EQ(rescan, first);
    }
    if (c.change == Change::FileChanged) {
        EXPECT_EQ(rescan.count(u"track20.mp3|track3.mp3"), 1u);
    }
}

constexpr Scan kTagsAndContent{};
constexpr Scan kContentOnThreeWorkers{ScanSettings::kByContent, 0.75f, false, false, 3};
constexpr Scan kTags{ScanSettings::kByTags, 0.6f};
// Several workers join the tracks in an order of their own, which only the content score ignores.
constexpr Scan kContentOnFourWorkers{ScanSettings::kByContent, 0.75f, false, false, 4};
constexpr Scan kVerified{ScanSettings::kByTags | ScanSettings::kByContent, 0.75f, true};

INSTANTIATE_TEST_SUITE_P(
    Changes, RescanPairsTest,
    ::testing::Values(RescanCase{"NothingChanged", Change::Nothing, true, kTagsAndContent},
                      RescanCase{"NothingChangedTags", Change::Nothing, true, kTags},
                      RescanCase{"NothingChangedVerified", Change::Nothing, true, kVerified},
                      RescanCase{"NothingChangedThreeWorkers", Change::Nothing, true, kContentOnThreeWorkers},
                      RescanCase{"FilesAdded", Change::FilesAdded, true, kTagsAndContent},
                      RescanCase{"FilesAddedTags", Change::FilesAdded, true, kTags},
                      RescanCase{"FilesAddedThreeWorkers", Change::FilesAdded, true, kContentOnThreeWorkers},
                      RescanCase{"FilesAddedLast", Change::FilesAddedLast, true, kTagsAndContent},
                      RescanCase{"FilesAddedLastVerified", Change::FilesAddedLast, true, kVerified},
                      RescanCase{"FilesAddedLastFourWorkers", Change::FilesAddedLast, true,
                                 kContentOnFourWorkers},
                      RescanCase{"FileChanged", Change::FileChanged, true, kTagsAndContent},
                      RescanCase{"FileRemoved", Change::FileRemoved, true, kTagsAndContent},
                      RescanCase{"ThresholdLowered", Change::ThresholdLowered, false, kTagsAndContent},
                      RescanCase{"VerifyTurnedOn", Change::VerifyOn, false, kTagsAndContent},
                      RescanCase{"ListDamaged", Change::ListDamaged, false, kTagsAndContent},
                      RescanCase{"ListCutShort", Change::ListCut, false, kTagsAndContent},
                      RescanCase{"FoldersSwapped", Change::FoldersSwapped, true, kTags},
                      RescanCase{"PairNoLongerIgnored", Change::PairNoLongerIgnored, true, kTagsAndContent}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace tonemirror::engine
