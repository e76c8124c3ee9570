// A scan never points at the wrong file: stale cache entries, several names of one file, special
// files and folders it cannot read.

#include "engine/CacheFormat.h"
#include "engine/ScanFixture.h"
#include "support/FileContents.h"
#include "support/ToneSong.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tonemirror;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

extern char** environ;

namespace {

class ScanSafety : public engine::test::ScanFixture {
protected:
    fs::path write(const std::string& relative, std::uint32_t seed, const std::string& title) {
        fakes::ToneSong s;
        s.seed = seed;
        s.seconds = 20.0;
        s.title = title;
        s.artist = "artist";
        return ScanFixture::write(relative, s);
    }

    std::vector<engine::DuplicatePair> scan(std::vector<fs::path> folders = {}) {
        if (folders.empty()) {
            folders.push_back(music_);
        }
        std::vector<std::u16string> wide;
        for (const auto& f : folders) {
            wide.push_back(os::fromNativePath(f));
        }
        return ScanFixture::scan(wide);
    }
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
    const auto bytes = fakes::readBytes(file);
    ASSERT_TRUE(engine::cache::parse(bytes, table, ignored).headerValid);
    std::vector<std::byte> out(engine::cache::header().begin(), engine::cache::header().end());
    std::vector<std::byte> record;
    for (const auto& [path, track] : table) {
        ASSERT_EQ(engine::cache::serializeTrack(path, track, record), S_OK);
        out.insert(out.end(), record.begin(), record.end());
    }
    fakes::writeBytes(file, out);
}

TEST_F(ScanSafety, AnOlderVersionsRecordIsTrustedOnceThenHeldToTheFilesStamp) {
    write("a.tone", 5, "One");
    const fs::path b = write("b.tone", 5, "Two");
    ASSERT_EQ(scan().size(), 1u);
    engine_.reset();
    store_.reset();
    dropDetails(dir_ / "cache.dat");
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

// --- one file, several names ---

TEST_F(ScanSafety, OneFileReachedByManyNamesIsAnalysedOnceAndNeverPairedWithItself) {
    const fs::path real = music_ / "real";
    const fs::path a = write("real/a.tone", 1, "One");
    write("real/b.tone", 2, "Two");
    fs::create_symlink(a, real / "link to a.tone");
    fs::create_hard_link(real / "b.tone", real / "hard b.tone");
    fs::create_directory_symlink(real, music_ / "view");
    write("real/copy of a.tone", 1, "One");

    const auto pairs = scan({real, music_ / "view"});
    std::multiset<std::pair<std::u16string, std::u16string>> names; // {skipped, first}, unordered
    int sameFolder = 0;
    fs::path taken = real; // the two ticked names of the folder are walked at once: either may come first
    for (const auto& item : engine_->skippedItems()) {
        if (item.reason == engine::SkipReason::SameFile) {
            names.insert(std::minmax(item.path, item.detail));
        } else if (item.reason == engine::SkipReason::SameFolder) {
            ++sameFolder;
            taken = os::toNativePath(item.path) == real ? music_ / "view" : real;
        }
    }
    const auto name = [&](const char* n) { return os::fromNativePath(taken / n); };
    ASSERT_EQ(pairs.size(), 1u) << "only the real copy pairs with a";
    const std::u16string other = pairs[0].path1 == name("copy of a.tone") ? pairs[0].path2 : pairs[0].path1;
    EXPECT_TRUE(other == name("a.tone") || other == name("link to a.tone"));
    EXPECT_EQ(decoded(), 3);

    EXPECT_EQ(names.count(std::minmax(name("a.tone"), name("link to a.tone"))), 1u);
    EXPECT_EQ(names.count(std::minmax(name("b.tone"), name("hard b.tone"))), 1u);
    EXPECT_EQ(names.size(), 2u);
    EXPECT_EQ(sameFolder, 1) << "the ticked link to the real folder";
}

// --- what a walk leaves out is counted and named ---

struct SkipCase {
    const char* name;
    // Makes one entry under the music folder and returns its path.
    fs::path (*make)(const fs::path& music);
    engine::SkipReason reason;
};

void PrintTo(const SkipCase& c, std::ostream* os) {
    *os << c.name;
}

class SkippedEntries : public ScanSafety, public ::testing::WithParamInterface<SkipCase> {};

// Runs the current test again in a child process as an unprivileged user; its exit status.
int rerunUnprivileged() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::vector<std::string> args = {"/usr/bin/setpriv",
                                     "--reuid=65534",
                                     "--regid=65534",
                                     "--clear-groups",
                                     fs::read_symlink("/proc/self/exe").string(),
                                     std::string("--gtest_filter=") + info->test_suite_name() + "." +
                                         info->name()};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_P(SkippedEntries, AreListedWithTheirReasonWhileTheRestIsScanned) {
    if (GetParam().reason == engine::SkipReason::UnreadableFolder && ::geteuid() == 0) {
        EXPECT_EQ(rerunUnprivileged(), 0) << "root reads every folder";
        return;
    }
    write("a.tone", 1, "One");
    const fs::path made = GetParam().make(music_);
    if (made.empty()) {
        GTEST_SKIP() << "cannot be set up here";
    }
    scan();
    EXPECT_EQ(engine_->counters().filesDone, 1);
    const auto skipped = engine_->skippedItems();
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].path, os::fromNativePath(made));
    EXPECT_EQ(skipped[0].reason, GetParam().reason);
    EXPECT_EQ(engine_->counters().itemsSkipped, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SkippedEntries,
    ::testing::Values(SkipCase{"Fifo",
                               [](const fs::path& m) {
                                   const fs::path p = m / "pipe.mp3";
                                   return ::mkfifo(p.c_str(), 0600) == 0 ? p : fs::path();
                               },
                               engine::SkipReason::SpecialFile},
                      SkipCase{"LinkToAFifo",
                               [](const fs::path& m) {
                                   const fs::path p = m / "pipe link.mp3";
                                   if (::mkfifo((m.parent_path() / "pipe").c_str(), 0600) != 0) {
                                       return fs::path();
                                   }
                                   fs::create_symlink(m.parent_path() / "pipe", p);
                                   return p;
                               },
                               engine::SkipReason::SpecialFile},
                      SkipCase{"LinkToAKernelFile",
                               [](const fs::path& m) {
                                   const fs::path p = m / "kmsg.mp3";
                                   fs::create_symlink("/proc/self/status", p);
                                   return p;
                               },
                               engine::SkipReason::KernelFiles},
                      SkipCase{"LinkToAFolder",
                               [](const fs::path& m) {
                                   fs::create_directories(m.parent_path() / "other");
                                   fs::create_directory_symlink(m.parent_path() / "other", m / "other");
                                   return m / "other";
                               },
                               engine::SkipReason::LinkToFolder},
                      SkipCase{"BrokenLink",
                               [](const fs::path& m) {
                                   fs::create_symlink(m / "missing.mp3", m / "broken.mp3");
                                   return m / "broken.mp3";
                               },
                               engine::SkipReason::BrokenLink},
                      SkipCase{"UnreadableFolder",
                               [](const fs::path& m) {
                                   if (::geteuid() == 0) {
                                       return fs::path(); // root reads every folder
                                   }
                                   fs::create_directories(m / "locked");
                                   fs::permissions(m / "locked", fs::perms::none);
                                   return m / "locked";
                               },
                               engine::SkipReason::UnreadableFolder}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ScanSafety, KernelFileSystemsAreNotWalked) {
    write("a.tone", 1, "One");
    scan({music_, "/proc", "/sys"});
    EXPECT_EQ(engine_->counters().filesDone, 1);
    std::vector<std::u16string> kernel;
    for (const auto& item : engine_->skippedItems()) {
        if (item.reason == engine::SkipReason::KernelFiles) {
            kernel.push_back(item.path);
        }
    }
    std::sort(kernel.begin(), kernel.end());
    EXPECT_EQ(kernel, (std::vector<std::u16string>{u"/proc", u"/sys"}));
}

// A chain of folders whose full path grows past the system's limit; removed through descriptors,
// since no path names its deepest parts.
class DeepFolders {
public:
    explicit DeepFolders(const fs::path& base) {
        fds_.push_back(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const std::string name(200, 'd');
        fs::path path = base;
        while (path.native().size() < PATH_MAX + 400 && fds_.back() >= 0) {
            path /= name;
            if (tooLong_.empty() && path.native().size() >= PATH_MAX) {
                tooLong_ = path;
            }
            if (::mkdirat(fds_.back(), name.c_str(), 0700) != 0) {
                break;
            }
            fds_.push_back(::openat(fds_.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        }
    }
    ~DeepFolders() {
        for (std::size_t i = fds_.size(); i-- > 1;) {
            ::close(fds_[i]);
            ::unlinkat(fds_[i - 1], std::string(200, 'd').c_str(), AT_REMOVEDIR);
        }
        ::close(fds_[0]);
    }
    const fs::path& firstTooLong() const { return tooLong_; }

private:
    std::vector<int> fds_;
    fs::path tooLong_;
};

TEST_F(ScanSafety, PathsOverTheSystemLimitAreCountedNotLost) {
    write("a.tone", 1, "One");
    const DeepFolders deep(music_);
    ASSERT_FALSE(deep.firstTooLong().empty());
    scan();
    EXPECT_EQ(engine_->counters().filesDone, 1);
    const auto skipped = engine_->skippedItems();
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].reason, engine::SkipReason::PathTooLong);
    EXPECT_EQ(skipped[0].path, os::fromNativePath(deep.firstTooLong()));
}

TEST_F(ScanSafety, NamesThatAreNotUtf8AreScannedAndCachedUnderTheirOwnBytes) {
    const fs::path latin1 = write("caf\xE9.tone", 7, "One");
    write("caf\xEF\xBF\xBD.tone", 8, "Other"); // where a lossy name would point instead
    const fs::path copy = write("copy.tone", 7, "One");
    auto pairs = scan();
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(std::minmax(pairs[0].path1, pairs[0].path2),
              std::minmax(os::fromNativePath(latin1), os::fromNativePath(copy)));
    EXPECT_EQ(os::toNativePath(pairs[0].path1 == os::fromNativePath(copy) ? pairs[0].path2 : pairs[0].path1),
              latin1);
    openStore();
    pairs = scan();
    EXPECT_EQ(pairs.size(), 1u);
    EXPECT_EQ(decoded(), 3) << "the cache found the file again by its name";
}

// --- a stop ends even when a read never returns ---

// Stands in for a read the system does not return from: Open of "stuck.tone" waits until released.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    bool entered = false;
};

class StuckDecoder {
public:
    explicit StuckDecoder(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    HResult open(const char16_t* path) {
        if (path == nullptr || !std::u16string_view(path).ends_with(u"stuck.tone")) {
            return E_FAIL;
        }
        std::unique_lock lock(gate_->mutex);
        gate_->entered = true;
        gate_->changed.notify_all();
        gate_->changed.wait(lock, [&] { return gate_->released; });
        return E_FAIL;
    }
    HResult close() { return S_OK; }
    HResult read(const void**, std::uint32_t*) { return E_FAIL; }
    std::int32_t priority() { return 2; }
    HResult info(StreamInfo*) { return E_FAIL; }
    HResult format(StreamFormat*) { return E_FAIL; }

private:
    std::shared_ptr<Gate> gate_;
};

TEST_F(ScanSafety, AStopEndsWithinItsGraceWhileAReadHangsAndKeepsWhatWasFound) {
    write("a.tone", 9, "One");
    write("b.tone", 9, "Two");
    write("stuck.tone", 10, "Three");
    auto gate = std::make_shared<Gate>();
    engine_ = std::make_unique<engine::ScanEngine>(
        *store_,
        [gate, stats = stats_] {
            void* object = nullptr;
            plugin::createObject<IDecoder, StuckDecoder>(&object, gate);
            std::vector<audio::AudioSource::Decoder> decoders;
            decoders.push_back({static_cast<IDecoder*>(object), "stuck"});
            decoders.push_back(fakes::makeTestDecoder(fakes::toneLibrary(stats), "tone"));
            return std::make_unique<audio::AudioSource>(std::move(decoders));
        },
        sink_.get());
    ASSERT_EQ(engine_->createPool(3), S_OK);
    engine_->startScan({os::fromNativePath(music_)});
    {
        std::unique_lock lock(gate->mutex);
        ASSERT_TRUE(gate->changed.wait_for(lock, 60s, [&] { return gate->entered; }));
    }
    sink_->waitUntil([&] { return engine_->counters().filesDone >= 2; }, 60s);

    EXPECT_FALSE(engine_->stopAndWait(200ms)) << "one job cannot end";
    EXPECT_EQ(engine_->takePendingResults().pairs.size(), 1u) << "the pair found before the stop";
    {
        std::lock_guard lock(gate->mutex);
        gate->released = true;
    }
    gate->changed.notify_all();
    EXPECT_TRUE(engine_->stopAndWait(60s));
}

} // namespace
