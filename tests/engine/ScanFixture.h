#pragma once

#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "platform/os/Paths.h"
#include "support/RecordingSink.h"
#include "support/TempFolder.h"
#include "support/ToneSong.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace tonemirror::engine::test {

// A scan engine over a library of song description files in a temporary "music" folder, with its
// cache and ignore list beside it.
class ScanFixture : public ::testing::Test {
protected:
    void SetUp() override {
        music_ = dir_ / "music";
        std::filesystem::create_directories(music_);
        stats_ = std::make_shared<fakes::ToneStats>();
        openStore();
    }
    void TearDown() override {
        engine_.reset();
        store_.reset();
    }

    // A new run of the program: cache and ignore list are loaded again.
    void openStore() {
        engine_.reset();
        store_.reset();
        StorageLocations where;
        where.cacheFile = dir_ / "cache.dat";
        where.ignoreListFile = dir_ / "ignores.list";
        store_ = std::make_unique<TrackStore>(where);
        ASSERT_EQ(store_->openCache(), S_OK);
        store_->loadIgnoreList();
        sink_ = std::make_unique<fakes::RecordingSink>();
        engine_ = std::make_unique<ScanEngine>(
            *store_, [stats = stats_] { return fakes::makeToneSource(stats); }, sink_.get());
        ASSERT_EQ(engine_->createPool(3), S_OK);
    }

    std::filesystem::path write(const std::string& relative, const fakes::ToneSong& song) {
        return writeRaw(relative, song.text());
    }
    std::filesystem::path writeRaw(const std::string& relative, const std::string& content) {
        const std::filesystem::path p = music_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::trunc) << content;
        return p;
    }

    // Starts a scan and collects its pairs until the job count is back at zero.
    std::vector<DuplicatePair> scan(const std::vector<std::u16string>& folders) {
        engine_->startScan(folders);
        return waitForEnd();
    }
    std::vector<DuplicatePair> waitForEnd() { return waitForResults().pairs; }
    // The same with the experimental scores.
    engine::PendingResults scanResults(const std::vector<std::u16string>& folders) {
        engine_->startScan(folders);
        return waitForResults();
    }
    engine::PendingResults waitForResults() {
        using namespace std::chrono_literals;
        sink_->waitUntil([&] { return engine_->control().jobCount() == 0; }, 120s);
        EXPECT_EQ(engine_->control().jobCount(), 0) << "scan did not end";
        return engine_->takePendingResults();
    }

    int decoded() const { return stats_->decoded.load(); }

    fakes::TempFolder dir_;
    std::filesystem::path music_;
    std::shared_ptr<fakes::ToneStats> stats_;
    std::unique_ptr<TrackStore> store_;
    std::unique_ptr<fakes::RecordingSink> sink_;
    std::unique_ptr<ScanEngine> engine_;
};

} // namespace tonemirror::engine::test
