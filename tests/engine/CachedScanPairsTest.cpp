// Scans of a library whose every track comes from the cache, through the scan's indexes and through
// the loop over every earlier track: both must report the very same pairs, for every method, with and
// without verification, across thresholds, before and after the content prefilter takes over.
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

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// Songs, near copies of them at many strengths (some retagged), namesakes, silent tracks and tracks
// without a print.
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
        for (float& v : r.levelProfile) {
            v *= 1.0f + strength * noise(rng);
        }
        r.titleText = rng() % 4 == 0 ? words(rng, 2) : r.titleText;
    } else {
        r = analysis::realShapedRecord(rng);
        r.titleText = words(rng, 1 + static_cast<int>(rng() % 3));
        r.artistText = words(rng, 1);
        r.nameText = r.artistText + u" - " + r.titleText;
        r.acousticPrint.resize(120);
        for (auto& w : r.acousticPrint) {
            w = static_cast<std::uint32_t>(rng());
        }
        r.acousticPrintLong = true;
    }
    if (rng() % 30 == 0) {
        analysis::fillSpectrum(r, 0.5f);
    }
    if (rng() % 8 == 0) {
        r.acousticPrint.clear();
    }
    return r;
}

std::string toUtf8(const std::u16string& s) {
    return std::string(s.begin(), s.end()); // file names here are ASCII
}

struct SweepCase {
    const char* name;
    std::int32_t method;
    bool verify;
    // One worker: the tracks join in the same order in every scan, so each pair has the same newer
    // track (the tag score depends on which one that is). The content score does not, so content
    // alone also runs on several workers, tracks joining and comparing at once.
    unsigned workers = 1;
};

class CachedScanPairs : public ::testing::TestWithParam<SweepCase> {
protected:
    static void SetUpTestSuite() {
        folder_ = new fakes::TempFolder();
        StorageLocations where;
        where.cacheFile = *folder_ / "cache.dat";
        where.ignoreListFile = *folder_ / "ignores.list";
        TrackStore store(where);
        ASSERT_EQ(store.openCache(), S_OK);
        std::mt19937 rng(21);
        std::vector<analysis::TrackRecord> records;
        for (std::size_t i = 0; i < kTracks; ++i) {
            const fs::path file = *folder_ / "music" / ("track" + std::to_string(i) + ".mp3");
            fs::create_directories(file.parent_path());
            std::ofstream(file).put('x');
            records.push_back(nextRecord(records, rng));
            const auto id = os::identify(file);
            ASSERT_TRUE(id.has_value());
            records.back().fileStamp = {true, id->size, id->modifiedSeconds, id->modifiedNanoseconds};
            store.appendRecord(os::fromNativePath(file), records.back());
        }
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    // The pairs of one scan, each as "name|name".
    static std::set<std::u16string> scan(const SweepCase& c, float threshold, bool allPairs) {
        StorageLocations where;
        where.cacheFile = *folder_ / "cache.dat";
        where.ignoreListFile = *folder_ / "ignores.list";
        TrackStore store(where);
        EXPECT_EQ(store.openCache(), S_OK);
        fakes::RecordingSink sink;
        ScanEngine engine(
            store,
            [] { return std::make_unique<audio::AudioSource>(std::vector<audio::AudioSource::Decoder>{}); },
            &sink);
        engine.settings().compareMethod = c.method;
        engine.settings().verifyMatches = c.verify;
        engine.settings().contentThreshold = threshold;
        engine.settings().tagsThreshold = threshold;
        engine.settings().allPairs = allPairs;
        engine.settings().contentAxesAt = kAxesAt;
        EXPECT_EQ(engine.createPool(c.workers), S_OK);
        engine.startScan({os::fromNativePath(*folder_ / "music")});
        using namespace std::chrono_literals;
        sink.waitUntil([&] { return engine.control().jobCount() == 0; }, 300s);
        std::set<std::u16string> pairs;
        for (const DuplicatePair& p : engine.takePendingResults().pairs) {
            const auto name = [](const std::u16string& path) { return path.substr(path.rfind(u'/') + 1); };
            pairs.insert(std::min(name(p.path1), name(p.path2)) + u"|" +
                         std::max(name(p.path1), name(p.path2)));
        }
        return pairs;
    }

    static constexpr std::size_t kTracks = 360;
    static constexpr std::size_t kAxesAt = 90;
    static fakes::TempFolder* folder_;
};

fakes::TempFolder* CachedScanPairs::folder_ = nullptr;

TEST_P(CachedScanPairs, IndexesReportExactlyTheAllPairsSet) {
    const SweepCase& c = GetParam();
    std::size_t reported = 0;
    for (const float threshold : {0.5f, 0.75f, 0.95f}) {
        const std::set<std::u16string> indexed = scan(c, threshold, false);
        const std::set<std::u16string> reference = scan(c, threshold, true);
        std::vector<std::u16string> missed;
        std::set_difference(reference.begin(), reference.end(), indexed.begin(), indexed.end(),
                            std::back_inserter(missed));
        std::vector<std::u16string> extra;
        std::set_difference(indexed.begin(), indexed.end(), reference.begin(), reference.end(),
                            std::back_inserter(extra));
        ASSERT_TRUE(missed.empty() && extra.empty())
            << "threshold " << threshold << ": " << missed.size() << " missed, such as "
            << (missed.empty() ? "" : toUtf8(missed[0])) << "; " << extra.size() << " extra, such as "
            << (extra.empty() ? "" : toUtf8(extra[0]));
        reported += reference.size();
    }
    EXPECT_GT(reported, 50u) << "the library should hold pairs at these thresholds";
}

INSTANTIATE_TEST_SUITE_P(
    Methods, CachedScanPairs,
    ::testing::Values(SweepCase{"Content", ScanSettings::kByContent, false},
                      SweepCase{"ContentOnThreeWorkers", ScanSettings::kByContent, false, 3},
                      SweepCase{"Tags", ScanSettings::kByTags, false},
                      SweepCase{"TagsAndContent", ScanSettings::kByTags | ScanSettings::kByContent, false},
                      SweepCase{"ContentVerified", ScanSettings::kByContent, true},
                      SweepCase{"TagsAndContentVerified", ScanSettings::kByTags | ScanSettings::kByContent,
                                true}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace tonemirror::engine
