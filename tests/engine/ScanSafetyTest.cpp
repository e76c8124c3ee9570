// A scan never points at the wrong file: stale cache entries, several names of one file, special
// files and folders it cannot read.

#include "engine/CacheFormat.h"
#include "engine/EngineTestSupport.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "support/ToneDecoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace tonemirror;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class ScanSafety : public ::testing::Test {
protected:
    void SetUp() override {
        music_ = dir_.path() / "music";
        fs::create_directories(music_);
        stats_ = std::make_shared<fakes::ToneStats>();
        openStore();
    }
    void TearDown() override {
        engine_.reset();
        store_.reset();
    }

    // A new run of the program: the cache file is loaded again.
    void openStore() {
        engine_.reset();
        store_.reset();
        engine::StorageLocations where;
        where.cacheFile = dir_.path() / "cache.dat";
        where.ignoreListFile = dir_.path() / "ignores.list";
        store_ = std::make_unique<engine::TrackStore>(where);
        ASSERT_EQ(store_->openCache(), S_OK);
        engine_ = std::make_unique<engine::ScanEngine>(
            *store_, [stats = stats_] { return fakes::makeToneSource(stats); }, nullptr);
        ASSERT_EQ(engine_->createPool(3), S_OK);
    }

    fs::path write(const std::string& relative, std::uint32_t seed, const std::string& title) {
        fakes::ToneSong s;
        s.seed = seed;
        s.seconds = 20.0;
        s.title = title;
        s.artist = "artist";
        const fs::path p = music_ / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::trunc) << s.text();
        return p;
    }

    std::vector<engine::DuplicatePair> scan(std::vector<fs::path> folders = {}) {
        if (folders.empty()) {
            folders.push_back(music_);
        }
        std::vector<std::u16string> wide;
        for (const auto& f : folders) {
            wide.push_back(os::fromNativePath(f));
        }
        engine_->startScan(wide);
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while (engine_->control().jobCount() > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(engine_->control().jobCount(), 0) << "scan did not end";
        return engine_->takePendingPairs();
    }

    int decoded() const { return stats_->decoded.load(); }

    engine::test::TempFolder dir_;
    fs::path music_;
    std::shared_ptr<fakes::ToneStats> stats_;
    std::unique_ptr<engine::TrackStore> store_;
    std::unique_ptr<engine::ScanEngine> engine_;
};

// --- a cached analysis is trusted only while its file is unchanged ---

enum class Change { ContentSameSize, SizeSameTime };

class StaleCache : public ScanSafety, public ::testing::WithParamInterface<Change> {};

TEST_P(StaleCache, AChangedFileIsAnalysedAgainAndTheNewAnalysisIsWhatTheNextRunLoads) {
    write("a.tone", 1, "One");
    const fs::path b = write("b.tone", 1, "Two");
    ASSERT_EQ(scan().size(), 1u) << "copies by content";
    ASSERT_EQ(decoded(), 2);

    const auto before = fs::last_write_time(b);
    if (GetParam() == Change::ContentSameSize) {
        write("b.tone", 2, "Two"); // another piece, same number of bytes
        fs::last_write_time(b, before + 2s);
    } else {
        write("b.tone", 2, "Two, longer");
        fs::last_write_time(b, before);
    }
    EXPECT_TRUE(scan().empty()) << "the old analysis of b would still pair it with a";
    EXPECT_EQ(decoded(), 3) << "only the changed file is decoded again";

    openStore();
    EXPECT_EQ(store_->tracksKnown(), 2);
    EXPECT_TRUE(scan().empty());
    EXPECT_EQ(decoded(), 3) << "the next run loads the new analysis and trusts it";
}

INSTANTIATE_TEST_SUITE_P(Changes, StaleCache,
                         ::testing::Values(Change::ContentSameSize, Change::SizeSameTime), [](const auto& p) {
                             return p.param == Change::ContentSameSize ? "Content" : "Size";
                         });

// Rewrites the cache file as an older version would have written it: track records alone.
void dropDetails(const fs::path& file) {
    engine::TrackTable table;
    engine::IgnoreSet ignored;
    const auto bytes = engine::test::readFile(file);
    ASSERT_TRUE(engine::cache::parse(bytes, table, ignored).headerValid);
    std::vector<std::byte> out(engine::cache::header().begin(), engine::cache::header().end());
    std::vector<std::byte> record;
    for (const auto& [path, track] : table) {
        ASSERT_EQ(engine::cache::serializeTrack(path, track, record), S_OK);
        out.insert(out.end(), record.begin(), record.end());
    }
    engine::test::writeFile(file, out);
}

TEST_F(ScanSafety, AnOlderVersionsRecordIsTrustedOnceThenHeldToTheFilesStamp) {
    write("a.tone", 5, "One");
    const fs::path b = write("b.tone", 5, "Two");
    ASSERT_EQ(scan().size(), 1u);
    engine_.reset();
    store_.reset();
    dropDetails(dir_.path() / "cache.dat");
    // Changed before the program learnt its stamp: this change cannot be seen.
    write("b.tone", 6, "Two");

    openStore();
    EXPECT_EQ(scan().size(), 1u) << "trusted once";
    EXPECT_EQ(decoded(), 2);
    openStore();
    EXPECT_EQ(store_->lastLoad().parse.detailsRecords, 2u) << "both records were completed";
    EXPECT_EQ(scan().size(), 1u);
    EXPECT_EQ(decoded(), 2) << "still the same file";

    fs::last_write_time(b, fs::last_write_time(b) + 3s);
    EXPECT_TRUE(scan().empty());
    EXPECT_EQ(decoded(), 3);
}

} // namespace
