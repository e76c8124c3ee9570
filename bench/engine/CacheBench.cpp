// Loading and appending a cache of 10,000 tracks (about 87 MB), each against a plain-file baseline
// measured in the same run: reading the same file whole, and writing the same bytes record by record.
#include "engine/CacheFormat.h"
#include "engine/FileIo.h"
#include "engine/TrackStore.h"
#include "engine/TrackTable.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace tonemirror;
using namespace tonemirror::engine;

constexpr int kTracks = 10000;

struct Corpus {
    std::vector<std::u16string> paths;
    std::vector<analysis::TrackRecord> records;
};

const Corpus& corpus() {
    static const Corpus c = [] {
        Corpus out;
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> d(0.0f, 1.0f);
        for (int i = 0; i < kTracks; ++i) {
            const std::u16string n = [&] {
                std::u16string s;
                for (char ch : std::to_string(i)) {
                    s.push_back(static_cast<char16_t>(ch));
                }
                return s;
            }();
            out.paths.push_back(u"/home/listener/Music/Some Artist/Some Album (2009)/" + n +
                                u" - a track title.flac");
            analysis::TrackRecord r;
            for (auto& v : r.levelProfile) {
                v = d(rng);
            }
            for (auto& v : r.sectionCorrelations) {
                v = d(rng);
            }
            std::array<float, analysis::kComparedSpectrumBins> spectrum;
            for (auto& v : spectrum) {
                v = d(rng);
            }
            r.meanSpectrum.assign(spectrum);
            r.nameText = n + u" - a track title";
            r.titleText = u"a track title " + n;
            r.artistText = u"some artist";
            r.albumText = u"some album";
            out.records.push_back(std::move(r));
        }
        return out;
    }();
    return c;
}

std::filesystem::path benchFolder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tm-bench-cache-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return std::filesystem::path(pattern);
    }();
    return folder;
}

StorageLocations at(const std::filesystem::path& file) {
    StorageLocations l;
    l.cacheFile = file;
    return l;
}

// The full cache, written once.
const std::filesystem::path& fullCache() {
    static const std::filesystem::path file = [] {
        const auto f = benchFolder() / "full.dat";
        TrackStore store(at(f));
        if (failed(store.openCache())) {
            std::abort();
        }
        TableLockHolder hold(store.lock());
        for (int i = 0; i < kTracks; ++i) {
            if (failed(store.appendRecord(corpus().paths[i], corpus().records[i]))) {
                std::abort();
            }
        }
        return f;
    }();
    return file;
}

void BM_ReadFileBaseline(benchmark::State& state) {
    const auto& file = fullCache();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        auto data = readWholeFile(fd);
        ::close(fd);
        bytes = data ? data->size() : 0;
        benchmark::DoNotOptimize(data);
    }
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

void BM_LoadCache(benchmark::State& state) {
    const auto& file = fullCache();
    std::size_t tracks = 0;
    for (auto _ : state) {
        auto store = std::make_unique<TrackStore>(at(file));
        if (failed(store->openCache())) {
            state.SkipWithError("openCache failed");
            break;
        }
        tracks = store->table().size();
        state.PauseTiming();
        store.reset(); // freeing 10,000 records is not part of loading
        state.ResumeTiming();
    }
    state.counters["tracks"] = static_cast<double>(tracks);
    state.SetBytesProcessed(static_cast<std::int64_t>(std::filesystem::file_size(file)) * state.iterations());
}

void BM_WriteRecordsBaseline(benchmark::State& state) {
    // The serialised records, prepared outside the loop: only the writes are timed.
    std::vector<std::vector<std::byte>> records(kTracks);
    for (int i = 0; i < kTracks; ++i) {
        cache::serializeTrack(corpus().paths[i], corpus().records[i], records[i]);
    }
    const auto file = benchFolder() / "raw.dat";
    for (auto _ : state) {
        state.PauseTiming();
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        state.ResumeTiming();
        std::uint64_t offset = cache::kHeaderSize;
        for (const auto& r : records) {
            writeAllAt(fd, offset, r);
            offset += r.size();
        }
        state.PauseTiming();
        ::close(fd);
        state.ResumeTiming();
    }
}

void BM_AppendRecords(benchmark::State& state) {
    const auto file = benchFolder() / "append.dat";
    std::vector<std::byte> buffer;
    std::unique_ptr<TrackStore> store;
    for (auto _ : state) {
        state.PauseTiming();
        store.reset();
        std::filesystem::remove(file);
        store = std::make_unique<TrackStore>(at(file));
        if (failed(store->openCache())) {
            state.SkipWithError("openCache failed");
            break;
        }
        state.ResumeTiming();
        for (int i = 0; i < kTracks; ++i) {
            // As a worker does it: take the lock, append, release.
            TableLockHolder hold(store->lock());
            store->appendRecord(corpus().paths[i], corpus().records[i], buffer);
        }
    }
}

// Finding a track by its path in a table of state.range(0) tracks laid out as a library is (some
// fifteen tracks an album, long shared beginnings), against the same lookups in an ordered map of
// the paths alone, which is how the table found them before it kept them by hash as well.
std::vector<std::u16string> libraryPaths(std::size_t n) {
    std::vector<std::u16string> paths;
    paths.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string p = "/home/someone/Music/Artist " + std::to_string(i / 150) + "/Album " +
                              std::to_string(i / 15 % 10) + " (Deluxe Edition)/" + std::to_string(i % 15) +
                              " Title of the song " + std::to_string(i) + ".flac";
        paths.emplace_back(p.begin(), p.end());
    }
    std::shuffle(paths.begin(), paths.end(), std::mt19937(11));
    return paths;
}

template <typename Find>
void findEach(benchmark::State& state, const std::vector<std::u16string>& paths, Find&& find) {
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(find(paths[next]));
        next = (next + 7919) % paths.size(); // a prime stride: no two lookups in a row are neighbours
    }
}

void BM_FindPathOrderedBaseline(benchmark::State& state) {
    const std::vector<std::u16string> paths = libraryPaths(static_cast<std::size_t>(state.range(0)));
    std::map<std::u16string, int, std::less<>> ordered;
    for (const std::u16string& p : paths) {
        ordered.emplace(p, 0);
    }
    findEach(state, paths, [&](const std::u16string& p) { return ordered.find(std::u16string_view(p)); });
}

void BM_FindTrack(benchmark::State& state) {
    const std::vector<std::u16string> paths = libraryPaths(static_cast<std::size_t>(state.range(0)));
    TrackTable table;
    for (const std::u16string& p : paths) {
        table.insert(p, analysis::TrackRecord{});
    }
    findEach(state, paths, [&](const std::u16string& p) { return table.find(p); });
}

BENCHMARK(BM_ReadFileBaseline)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadCache)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteRecordsBaseline)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_AppendRecords)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FindPathOrderedBaseline)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_FindTrack)->Arg(100000)->Arg(1000000);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(benchFolder(), ec);
    return 0;
}
