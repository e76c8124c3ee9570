#include "analysis/CComparer.h"
#include "engine/ScanFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

using namespace tonemirror;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class ScanEngineTest : public engine::test::ScanFixture {
protected:
    std::u16string folder(const std::string& relative = {}) const {
        return os::fromNativePath(relative.empty() ? music_ : music_ / relative);
    }

    static fakes::ToneSong song(std::uint32_t seed, std::string title, std::string artist = "artist",
                                double seconds = 20.0) {
        fakes::ToneSong s;
        s.seed = seed;
        s.seconds = seconds;
        s.title = std::move(title);
        s.artist = std::move(artist);
        s.album = "album";
        return s;
    }
};

bool samePair(const engine::DuplicatePair& p, const fs::path& a, const fs::path& b) {
    const auto pa = os::fromNativePath(a);
    const auto pb = os::fromNativePath(b);
    return (p.path1 == pa && p.path2 == pb) || (p.path1 == pb && p.path2 == pa);
}

TEST_F(ScanEngineTest, FindsCopiesByContentAndTagsAndLeavesUnrelatedSongsAlone) {
    const auto original = write("a/one.tone", song(1, "Morning light", "The Band"));
    auto quiet = song(1, "Completely different title", "Nobody");
    quiet.gain = 0.3;
    quiet.lead = 2.0;
    const auto copy = write("b/quiet copy.tone", quiet);
    const auto unrelated = write("b/two.tone", song(2, "Evening rain", "Other people"));
    const auto sameTags = write("c/three.tone", song(3, "Morning light", "The Band"));

    const auto pairs = scan({folder()});
    const auto c = engine_->counters();
    EXPECT_EQ(c.filesQueued, 4);
    EXPECT_EQ(c.filesDone, 4);
    EXPECT_EQ(c.tracksKnown, 4);

    const auto find = [&](const fs::path& a, const fs::path& b) -> const engine::DuplicatePair* {
        for (const auto& p : pairs) {
            if (samePair(p, a, b)) {
                return &p;
            }
        }
        return nullptr;
    };
    const auto* byContent = find(original, copy);
    ASSERT_NE(byContent, nullptr) << "a quieter copy with a lead-in is the same recording";
    EXPECT_GT(byContent->contentPercent, 50.0f);
    EXPECT_EQ(byContent->tagsPercent, -100.0f);
    EXPECT_EQ(byContent->experimentalPercent, -100.0f);
    const auto* byTags = find(original, sameTags);
    ASSERT_NE(byTags, nullptr) << "same title, artist and album";
    EXPECT_GT(byTags->tagsPercent, 0.0f);
    EXPECT_EQ(byTags->contentPercent, -100.0f);
    EXPECT_EQ(find(original, unrelated), nullptr);
    EXPECT_EQ(find(copy, unrelated), nullptr);
    // The later track of each pair is path1.
    for (const auto& p : pairs) {
        EXPECT_GT(store_->table().find(p.path1)->trackId, store_->table().find(p.path2)->trackId);
    }
    EXPECT_EQ(sink_->count(engine::UM_FILE_DONE), 4);
    EXPECT_EQ(sink_->count(engine::UM_RESULTS_RESET), 1);
    EXPECT_EQ(sink_->count(engine::UM_SCAN_STATE), 2);
}

TEST_F(ScanEngineTest, FolderTickedTwiceOrWithItsSubfolderQueuesEachFileOnce) {
    const auto a = write("x/one.tone", song(4, "Same"));
    const auto b = write("x/sub/two.tone", song(4, "Same"));
    const auto pairs = scan({folder("x"), folder("x/sub"), folder("x"), folder("x") + u"/"});
    EXPECT_EQ(engine_->counters().filesQueued, 2);
    EXPECT_EQ(engine_->counters().filesDone, 2);
    ASSERT_EQ(pairs.size(), 1u) << "a pair is reported once";
    EXPECT_TRUE(samePair(pairs[0], a, b));
}

TEST(ScanEngineFolders, DistinctFoldersDropsDuplicatesAndNestedFolders) {
    using engine::ScanEngine;
    EXPECT_EQ(ScanEngine::distinctFolders({u"/m/a", u"/m/a/b", u"/m/ab", u"/m/a/", u"/n"}),
              (std::vector<std::u16string>{u"/m/a", u"/m/ab", u"/n"}));
    EXPECT_EQ(ScanEngine::distinctFolders({u"/m/a/b", u"/"}), (std::vector<std::u16string>{u"/"}));
    EXPECT_EQ(ScanEngine::distinctFolders({u""}), (std::vector<std::u16string>{}));
}

// Pairs that wait for the front end share one message: it takes them all at once.
TEST_F(ScanEngineTest, PairsWaitingTogetherArePostedOnce) {
    for (int i = 0; i < 4; ++i) {
        write("same/copy" + std::to_string(i) + ".tone", song(1, "Morning light", "The Band"));
    }
    const auto pairs = scan({folder("same")});
    EXPECT_EQ(pairs.size(), 6u);
    EXPECT_EQ(sink_->count(engine::UM_PAIRS_PENDING), 1);
    write("same/copy4.tone", song(1, "Morning light", "The Band"));
    EXPECT_EQ(scan({folder("same")}).size(), 10u); // taken: the next pair posts again
    EXPECT_EQ(sink_->count(engine::UM_PAIRS_PENDING), 2);
}

TEST_F(ScanEngineTest, EmptyFolderPostsTwoStateChangesAndNoFileDone) {
    fs::create_directories(music_ / "empty");
    const auto pairs = scan({folder("empty")});
    EXPECT_TRUE(pairs.empty());
    EXPECT_EQ(sink_->count(engine::UM_SCAN_STATE), 2);
    EXPECT_EQ(sink_->count(engine::UM_FILE_DONE), 0);
}

TEST_F(ScanEngineTest, NonAudioFilesLeaveQueuedEqualToDone) {
    write("one.tone", song(5, "A"));
    writeRaw("cover.jpg", std::string("\xFF\xD8\xFF\xE0 not really an image", 24));
    writeRaw("notes.txt", "hello");
    writeRaw("empty.mp3", "");
    write("short.tone", song(6, "too short", "x", 5.0)); // decodes but is under 15 s
    fs::create_directories(music_ / "sub");
    fs::create_directory_symlink(music_, music_ / "sub" / "loop");
    ::mkfifo((music_ / "pipe.mp3").c_str(), 0600);
    scan({folder()});
    const auto c = engine_->counters();
    EXPECT_EQ(c.filesQueued, 1);
    EXPECT_EQ(c.filesDone, 1);
    EXPECT_EQ(sink_->count(engine::UM_FILE_DONE), 5) << "every regular file's job reports";
}

// Files the scan reaches but cannot analyse do not vanish: each is listed with its reason.
TEST_F(ScanEngineTest, FilesThatCannotBeAnalysedAreListedWithTheirReason) {
    write("one.tone", song(5, "A"));
    const auto notAudio = writeRaw("notes.txt", "hello");
    const auto empty = writeRaw("empty.mp3", "");
    const auto shortSong = write("short.tone", song(6, "too short", "x", 5.0));
    auto quiet = song(7, "quiet");
    quiet.gain = 0.0;
    const auto silent = write("silent.tone", quiet);
    scan({folder()});
    std::map<std::u16string, engine::SkipReason> reasons;
    for (const auto& item : engine_->skippedItems()) {
        reasons[item.path] = item.reason;
    }
    using engine::SkipReason;
    const std::map<std::u16string, SkipReason> expected{{os::fromNativePath(notAudio), SkipReason::NotAudio},
                                                        {os::fromNativePath(empty), SkipReason::NotAudio},
                                                        {os::fromNativePath(shortSong), SkipReason::TooShort},
                                                        {os::fromNativePath(silent), SkipReason::Silent}};
    EXPECT_EQ(reasons, expected);
    const auto c = engine_->counters();
    EXPECT_EQ(c.itemsSkipped, 4);
    EXPECT_EQ(c.filesDone, 1);
    EXPECT_EQ(c.filesQueued, 1) << "a file left out is no longer counted as queued";
}

// A stop that comes while a stored track is still being compared must not leave the cache holding
// more of this scan's tracks than the files counted done.
TEST_F(ScanEngineTest, CountsAfterAStopAgreeWithTheTracksStored) {
    for (int i = 0; i < 8; ++i) {
        write("f" + std::to_string(i) + ".tone", song(60, "same"));
    }
    // The first pair is posted while its track's comparison is under way: stop right there.
    sink_->setOnPost([this](std::uint32_t message) {
        if (message == engine::UM_PAIRS_PENDING) {
            engine_->requestStop();
        }
    });
    scan({folder()});
    sink_->setOnPost(nullptr);
    const auto c = engine_->counters();
    EXPECT_GE(c.filesDone, 2);
    EXPECT_EQ(c.filesDone, c.tracksKnown) << "the cache was empty before this scan";
}

TEST_F(ScanEngineTest, ExperimentalComparisonThatCannotRunSaysWhy) {
    write("a.tone", song(31, "x1", "y1", 20.0));
    write("b.tone", song(31, "x2", "y2", 20.0));
    engine_->settings().accurate = true;
    const auto results = scanResults({folder()});
    ASSERT_EQ(results.pairs.size(), 1u);
    EXPECT_EQ(results.pairs[0].experimentalPercent, -1.0f);
    ASSERT_EQ(results.scores.size(), 1u) << "the pending row gets an answer";
    EXPECT_EQ(results.scores[0].failure, analysis::AnalysisFailure::tooShort);
    EXPECT_EQ(results.scores[0].experimentalPercent, -100.0f);
}

struct EstimateCase {
    const char* name;
    double elapsed;
    std::int32_t done;
    std::int32_t queued;
    bool walking;
    double expected;
};

class TimeLeftEstimate : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(TimeLeftEstimate, FollowsThePaceSoFar) {
    const auto& c = GetParam();
    EXPECT_DOUBLE_EQ(engine::ScanEngine::estimateSecondsLeft(c.elapsed, c.done, c.queued, c.walking),
                     c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TimeLeftEstimate,
                         ::testing::Values(EstimateCase{"QuarterDone", 10.0, 25, 100, false, 30.0},
                                           EstimateCase{"AllDone", 50.0, 40, 40, false, 0.0},
                                           EstimateCase{"StillWalking", 10.0, 25, 100, true, -1.0},
                                           EstimateCase{"NothingDoneYet", 10.0, 0, 100, false, -1.0},
                                           EstimateCase{"TooEarly", 1.0, 25, 100, false, -1.0},
                                           EstimateCase{"QueuedBelowDone", 10.0, 30, 20, false, 0.0}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(ScanEngineTest, ProgressNamesTheFileBeingReadAndEndsWithNothingLeft) {
    write("a.tone", song(70, "a"));
    EXPECT_TRUE(engine_->progress().currentFile.empty());
    scan({folder()});
    const auto p = engine_->progress();
    EXPECT_EQ(p.currentFile, folder() + u"/a.tone");
    EXPECT_GE(p.elapsedSeconds, 0.0);
}

TEST_F(ScanEngineTest, ContentOnlyIgnoresAPerfectTagMatch) {
    write("x/same.tone", song(7, "Same title", "Same artist"));
    write("y/same.tone", song(8, "Same title", "Same artist"));
    engine_->settings().compareMethod = engine::ScanSettings::kByContent;
    EXPECT_TRUE(scan({folder()}).empty());
    engine_->settings().compareMethod = engine::ScanSettings::kByTags;
    const auto pairs = scan({folder()});
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0].tagsPercent, 100.0f);
    EXPECT_EQ(pairs[0].contentPercent, -100.0f);
}

TEST_F(ScanEngineTest, ThresholdOfOneShowsHundredPercentForEveryReportedPair) {
    write("x/same.tone", song(9, "Same title", "Same artist"));
    write("y/same.tone", song(10, "Same title", "Same artist"));
    engine_->settings().contentThreshold = 0.0f;
    engine_->settings().tagsThreshold = 1.0f;
    const auto pairs = scan({folder()});
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0].tagsPercent, 100.0f);
    EXPECT_GE(pairs[0].contentPercent, 0.0f) << "threshold 0 reports every pair by content";
    EXPECT_LT(pairs[0].contentPercent, 75.0f);
}

TEST_F(ScanEngineTest, SecondScanAndNextRunTakeEveryFileFromTheCache) {
    write("a.tone", song(11, "One"));
    write("b.tone", song(11, "Two"));
    write("c.tone", song(12, "Three"));
    const auto first = scan({folder()});
    EXPECT_EQ(stats_->decoded.load(), 3);
    const auto second = scan({folder()});
    EXPECT_EQ(stats_->decoded.load(), 3) << "nothing decoded again in this run";
    EXPECT_EQ(second.size(), first.size());
    openStore(); // a new run loads the cache file
    EXPECT_EQ(store_->tracksKnown(), 3);
    const auto third = scan({folder()});
    EXPECT_EQ(stats_->decoded.load(), 3) << "nothing decoded again in the next run";
    ASSERT_EQ(third.size(), first.size());
    EXPECT_EQ(engine_->counters().filesDone, 3);
}

// The track table keeps only the compared bins of a spectrum; the cache file gets every bin of the
// analysis itself, as older versions wrote it.
TEST_F(ScanEngineTest, TheCacheGetsEveryBinOfTheAnalysisAndTheTableOnlyTheComparedOnes) {
    const auto file = write("a.tone", song(21, "One"));
    scan({folder()});
    analysis::CComparer comparer(fakes::makeToneSource(stats_));
    const std::u16string path = os::fromNativePath(file);
    ASSERT_EQ(comparer.analyseFile(path), S_OK);
    const analysis::TrackRecord& analysed = comparer.record();
    ASSERT_EQ(analysed.spectrumRest.size(), analysis::kSpectrumSize - analysis::kComparedSpectrumBins);
    {
        engine::SharedTableLockHolder hold(store_->lock());
        const analysis::TrackRecord* kept = store_->table().find(path);
        ASSERT_NE(kept, nullptr);
        EXPECT_TRUE(kept->spectrumRest.empty());
        EXPECT_EQ(kept->meanSpectrum, analysed.meanSpectrum);
    }
    std::ifstream in(dir_ / "cache.dat", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Header, record head, path; then the level profile and the section correlations before the bins.
    const std::size_t bins = 32 + 8 + 2 + 2 * path.size() + 400 + 40;
    ASSERT_GE(bytes.size(), bins + 4 * analysis::kSpectrumSize);
    std::vector<float> upper(analysed.spectrumRest.size());
    std::memcpy(upper.data(), bytes.data() + bins + 4 * analysis::kComparedSpectrumBins, 4 * upper.size());
    EXPECT_EQ(upper, analysed.spectrumRest);
}

TEST_F(ScanEngineTest, CachedTracksOutsideTheScannedFoldersTakeNoPart) {
    write("in/a.tone", song(13, "One"));
    write("out/b.tone", song(13, "One"));
    EXPECT_EQ(scan({folder()}).size(), 1u);
    EXPECT_TRUE(scan({folder("in")}).empty());
}

TEST_F(ScanEngineTest, IgnoredPairsAreSkippedInBothOrders) {
    const auto a = write("a.tone", song(14, "One"));
    const auto b = write("b.tone", song(14, "One"));
    const auto c = write("c.tone", song(14, "One"));
    ASSERT_EQ(store_->ignorePair(os::fromNativePath(a), os::fromNativePath(b)), S_OK);
    ASSERT_EQ(store_->ignorePair(os::fromNativePath(c), os::fromNativePath(b)), S_OK);
    const auto pairs = scan({folder()});
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_TRUE(samePair(pairs[0], a, c));
}

TEST_F(ScanEngineTest, StopWhilePausedDrainsTheQueueAndReturnsToIdle) {
    for (int i = 0; i < 12; ++i) {
        write("f" + std::to_string(i) + ".tone", song(20 + static_cast<std::uint32_t>(i), "t"));
    }
    engine_->startScan({folder()});
    engine_->togglePause();
    EXPECT_FALSE(engine_->control().isRunning());
    // Jobs taken before the pause run to their end; after that the workers hold every job.
    std::this_thread::sleep_for(3s);
    const int held = engine_->control().jobCount();
    const int doneWhilePaused = engine_->counters().filesDone;
    std::this_thread::sleep_for(300ms);
    EXPECT_GT(held, 0);
    EXPECT_EQ(engine_->control().jobCount(), held) << "nothing runs while paused";
    EXPECT_EQ(engine_->counters().filesDone, doneWhilePaused);
    engine_->requestStop();
    waitForEnd();
    EXPECT_TRUE(engine_->control().isRunning()) << "a stop while paused also un-pauses";
    EXPECT_FALSE(engine_->control().isStopped());
    EXPECT_EQ(engine_->counters().filesDone, doneWhilePaused) << "queued jobs were discarded";
    EXPECT_LT(engine_->counters().filesDone, 12);
    // The engine is usable again.
    scan({folder()});
    EXPECT_EQ(engine_->counters().filesDone, 12);
}

TEST_F(ScanEngineTest, AccurateModeDeliversExperimentalScoresBeforeTheScanEnds) {
    const auto a = write("a.tone", song(30, "x1", "y1", 65.0));
    auto later = song(30, "x2", "y2", 65.0);
    later.lead = 3.0;
    const auto b = write("b.tone", later);
    engine_->settings().accurate = true;
    const auto results = scanResults({folder()});
    ASSERT_EQ(results.pairs.size(), 1u);
    EXPECT_EQ(results.pairs[0].experimentalPercent, -1.0f) << "pending when first delivered";
    ASSERT_EQ(results.scores.size(), 1u);
    const engine::ExperimentalScore& score = results.scores[0];
    EXPECT_TRUE(samePair({score.path1, score.path2}, a, b));
    EXPECT_EQ(score.path1, results.pairs[0].path1) << "the pair's own order";
    EXPECT_GT(score.experimentalPercent, 50.0f);
    EXPECT_EQ(sink_->count(engine::UM_SCORES_PENDING), 1);
}

// Verification by sound rescues a copy that the content threshold just misses and drops a namesake
// that only its tags bring up; every reported pair carries its acoustic score either way.
TEST_F(ScanEngineTest, VerifyingBySoundRescuesNearMissCopiesAndDropsNamesakes) {
    const auto original = write("a.tone", song(40, "Harbour lights", "The Band"));
    auto late = song(40, "Something else", "Nobody", 17.0);
    late.skip = 3.0;
    late.gain = 0.4;
    const auto copy = write("b.tone", late);
    const auto namesake = write("c.tone", song(41, "Harbour lights", "The Band"));
    const auto find = [](const std::vector<engine::DuplicatePair>& pairs, const fs::path& a,
                         const fs::path& b) -> const engine::DuplicatePair* {
        for (const auto& p : pairs) {
            if (samePair(p, a, b)) {
                return &p;
            }
        }
        return nullptr;
    };

    // With a threshold of 0 every pair is reported with its plain scores.
    engine_->settings().contentThreshold = 0.0f;
    const auto all = scan({folder()});
    ASSERT_EQ(all.size(), 3u);
    const float copyContent = find(all, original, copy)->contentPercent / 100.0f;
    ASSERT_LT(copyContent, 0.99f);
    EXPECT_GT(find(all, original, copy)->acousticPercent, 60.0f);
    EXPECT_LT(find(all, original, namesake)->acousticPercent, 30.0f);

    // Just above the copy's content score: without verification only the tags report a pair.
    engine_->settings().contentThreshold = copyContent + 0.01f;
    const auto plain = scan({folder()});
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_TRUE(samePair(plain[0], original, namesake));
    EXPECT_LT(plain[0].acousticPercent, 30.0f);

    engine_->settings().verifyMatches = true;
    const auto verified = scan({folder()});
    ASSERT_EQ(verified.size(), 1u);
    EXPECT_TRUE(samePair(verified[0], original, copy));
    EXPECT_EQ(verified[0].contentPercent, -100.0f) << "the content figure keeps its meaning";
    EXPECT_GT(verified[0].acousticPercent, 60.0f);

    // The prints decide whatever the content score: a threshold no content score reaches keeps the copy.
    engine_->settings().contentThreshold = 1.0f;
    const auto byPrints = scan({folder()});
    ASSERT_EQ(byPrints.size(), 1u);
    EXPECT_TRUE(samePair(byPrints[0], original, copy));

    // A stricter acoustic threshold than the copy reaches drops it too.
    engine_->settings().acousticThreshold = verified[0].acousticPercent / 100.0f + 0.01f;
    EXPECT_TRUE(scan({folder()}).empty());
    EXPECT_EQ(stats_->decoded.load(), 6)
        << "the first verifying scan decodes each track once more for its long print, later ones none";
}

TEST_F(ScanEngineTest, ATrackCachedWithoutAPrintGetsOneOnlyWhenVerifying) {
    write("a.tone", song(50, "First"));
    auto late = song(50, "Second", "artist", 17.0);
    late.skip = 3.0;
    write("b.tone", late);
    scan({folder()});
    ASSERT_EQ(stats_->decoded.load(), 2);
    // Rewrite the cache as a version without prints left it.
    std::vector<std::pair<std::u16string, analysis::TrackRecord>> old;
    {
        engine::TableLockHolder table(store_->lock());
        for (const auto& [path, record] : store_->table()) {
            old.emplace_back(path, record);
        }
    }
    ASSERT_EQ(store_->clearCache(), S_OK);
    {
        engine::TableLockHolder table(store_->lock());
        for (auto& [path, record] : old) {
            record.acousticPrint.clear();
            ASSERT_EQ(store_->appendRecord(path, record), S_OK);
        }
    }
    openStore();

    const auto plain = scan({folder()});
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].acousticPercent, -100.0f) << "no print, nothing measured";
    EXPECT_EQ(stats_->decoded.load(), 2) << "without verification nothing is analysed again";

    engine_->settings().verifyMatches = true;
    const auto verified = scan({folder()});
    ASSERT_EQ(verified.size(), 1u);
    EXPECT_GT(verified[0].acousticPercent, 60.0f);
    EXPECT_EQ(stats_->decoded.load(), 4) << "each track analysed once for its print";

    openStore(); // the prints were stored with their tracks
    engine_->settings().verifyMatches = true;
    ASSERT_EQ(scan({folder()}).size(), 1u);
    EXPECT_EQ(stats_->decoded.load(), 4);
    engine_->settings().verifyMatches = false;
    ASSERT_EQ(scan({folder()}).size(), 1u);
    EXPECT_EQ(stats_->decoded.load(), 4) << "a long print serves scans without verification too";
}

} // namespace
