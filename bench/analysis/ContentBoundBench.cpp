// Cost per pair of the content bounds a scan runs for every earlier track: the sketch bound (832 bytes
// a track) and the projection prefilter in front of it (blocks of eight tracks; its first stage in
// halves, and in bytes as the scan keeps it), one query against a library of the given size, so that
// the figures show what the caches hold at each size.
#include "analysis/ContentComparison.h"
#include "analysis/ContentProjection.h"
#include "analysis/ContentSketch.h"
#include "analysis/ProjectionBytes.h"
#include "analysis/SpectrumBasis.h"
#include "support/SongRecord.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

namespace {

using namespace tonemirror::analysis;

struct Library {
    std::vector<ContentSketch> sketches;
    std::vector<ProjectionBlock> blocks;
    std::vector<ProjectionTail> tails;
    std::vector<ContentProjection> projections;
    ByteSteps steps{};
    std::vector<ByteBlock> bytes;
    std::vector<ProjectionTail> byteTails;
};

// Tracks of a few thousand distinct songs, repeated up to n: the caches see n tracks' worth of data.
Library make(std::size_t n) {
    constexpr std::size_t kDistinct = 4096;
    Library lib;
    std::mt19937 rng(11);
    std::vector<TrackRecord> records(kDistinct); // the keys point at their values
    std::vector<ContentKey> keys(kDistinct);
    std::vector<const ContentKey*> sample;
    for (std::size_t t = 0; t < kDistinct; ++t) {
        records[t] = songRecord(rng);
        makeContentKey(records[t], keys[t]);
        sample.push_back(&keys[t]);
    }
    const SpectrumBasis basis = SpectrumBasis::learn(sample);
    lib.sketches.resize(n);
    lib.blocks.resize((n + ProjectionBlock::kLanes - 1) / ProjectionBlock::kLanes);
    lib.tails.resize(lib.blocks.size());
    lib.bytes.resize(lib.blocks.size());
    lib.byteTails.resize(lib.blocks.size());
    for (std::size_t t = 0; t < n; ++t) {
        const ContentKey& key = keys[t % kDistinct];
        makeContentSketch(key, lib.sketches[t]);
        ContentProjection p{};
        basis.project(key, p);
        projectLevelAndSections(key, lib.sketches[t], p);
        storeLane(p, lib.blocks[t / ProjectionBlock::kLanes], lib.tails[t / ProjectionBlock::kLanes],
                  t % ProjectionBlock::kLanes);
        if (t < kDistinct) {
            lib.projections.push_back(p);
        }
    }
    lib.steps =
        ByteSteps::learn({lib.projections.data(), std::min<std::size_t>(2048, lib.projections.size())});
    for (std::size_t t = 0; t < n; ++t) {
        storeByteLane(lib.projections[t % kDistinct], lib.steps, lib.bytes[t / ByteBlock::kLanes],
                      lib.byteTails[t / ByteBlock::kLanes], t % ByteBlock::kLanes);
    }
    return lib;
}

const Library& library(std::size_t n) {
    static std::map<std::size_t, Library> made;
    const auto it = made.find(n);
    return it != made.end() ? it->second : made.emplace(n, make(n)).first->second;
}

void BM_SketchBound(benchmark::State& state) {
    const Library& lib = library(static_cast<std::size_t>(state.range(0)));
    std::size_t q = 0;
    for (auto _ : state) {
        const ContentSketch& query = lib.sketches[q++ % lib.sketches.size()];
        std::size_t passed = 0;
        for (const ContentSketch& s : lib.sketches) {
            passed += contentSketchBound(query, s) >= 0.75f ? 1 : 0;
        }
        benchmark::DoNotOptimize(passed);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SketchBound)->Arg(4096)->Arg(32768)->Arg(131072);

void BM_ProjectionPrefilter(benchmark::State& state) {
    const Library& lib = library(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> masks(lib.blocks.size());
    std::size_t q = 0;
    std::size_t passed = 0;
    for (auto _ : state) {
        projectionPassMasks(lib.projections[q++ % lib.projections.size()], lib.blocks, lib.tails, 0.75f,
                            masks.data());
        for (const std::uint8_t m : masks) {
            passed += static_cast<std::size_t>(__builtin_popcount(m));
        }
        benchmark::DoNotOptimize(passed);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["passed"] = static_cast<double>(passed) / static_cast<double>(q * lib.blocks.size() * 8);
}
BENCHMARK(BM_ProjectionPrefilter)->Arg(4096)->Arg(32768)->Arg(131072)->Arg(1048576);

void BM_BytePrefilter(benchmark::State& state) {
    const Library& lib = library(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> masks(lib.bytes.size());
    std::size_t q = 0;
    std::size_t passed = 0;
    for (auto _ : state) {
        const std::size_t t = q++ % lib.projections.size();
        const ByteQuery query =
            byteQuery(lib.bytes[t / ByteBlock::kLanes], lib.byteTails[t / ByteBlock::kLanes],
                      t % ByteBlock::kLanes, lib.steps);
        bytePassMasks(query, lib.bytes, lib.byteTails, 0.75f, masks.data());
        for (const std::uint8_t m : masks) {
            passed += static_cast<std::size_t>(__builtin_popcount(m));
        }
        benchmark::DoNotOptimize(passed);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["passed"] = static_cast<double>(passed) / static_cast<double>(q * lib.bytes.size() * 8);
}
BENCHMARK(BM_BytePrefilter)->Arg(4096)->Arg(32768)->Arg(131072)->Arg(1048576);

// What a scan pays once, under its exclusive lock, when the prefilter learns its axes from its first
// 2,048 tracks; and per track joining after that; by the number of axes (the scan learns kFineAxes).
void BM_LearnAxes(benchmark::State& state) {
    std::mt19937 rng(12);
    std::vector<TrackRecord> records(2048); // the keys point at their values
    std::vector<ContentKey> keys(records.size());
    std::vector<const ContentKey*> sample;
    for (std::size_t t = 0; t < keys.size(); ++t) {
        records[t] = songRecord(rng);
        makeContentKey(records[t], keys[t]);
        sample.push_back(&keys[t]);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(SpectrumBasis::learn(sample, static_cast<std::size_t>(state.range(0))));
    }
}
BENCHMARK(BM_LearnAxes)->Arg(kProjectionAxes)->Arg(kFineAxes)->Unit(benchmark::kMillisecond);

void BM_ProjectTrack(benchmark::State& state) {
    std::mt19937 rng(13);
    std::vector<TrackRecord> records(64); // the keys point at their values
    std::vector<ContentKey> keys(records.size());
    std::vector<const ContentKey*> sample;
    for (std::size_t t = 0; t < keys.size(); ++t) {
        records[t] = songRecord(rng);
        makeContentKey(records[t], keys[t]);
        sample.push_back(&keys[t]);
    }
    const SpectrumBasis basis = SpectrumBasis::learn(sample, static_cast<std::size_t>(state.range(0)));
    std::size_t k = 0;
    for (auto _ : state) {
        ContentProjection p{};
        basis.project(keys[k++ % keys.size()], p);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_ProjectTrack)->Arg(kProjectionAxes)->Arg(kFineAxes)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
