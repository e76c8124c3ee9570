// "Mark all but the best" on a result of 100,000 pairs: groups made and the plan drawn from them,
// against a baseline measured in the same run that only copies the pairs into a hash table by path.
#include "shell/ResolvePlan.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using namespace tonemirror;

constexpr int kPairs = 100000;

std::u16string pathOf(int file) {
    std::u16string s = u"/home/listener/Music/Some Artist/Some Album/";
    for (char ch : std::to_string(file)) {
        s.push_back(static_cast<char16_t>(ch));
    }
    return s + u" - a track title.mp3";
}

// Groups of 2 to 12 copies, each copy paired with most of the others, until 100,000 pairs.
struct Result {
    std::vector<engine::DuplicatePair> pairs;
    std::vector<shell::FileQuality> qualities;
};

const Result& result() {
    static const Result r = [] {
        Result out;
        std::mt19937 rng(11);
        int next = 0;
        while (static_cast<int>(out.pairs.size()) < kPairs) {
            const int copies = 2 + static_cast<int>(rng() % 11);
            for (int i = 1; i < copies && static_cast<int>(out.pairs.size()) < kPairs; ++i) {
                for (int j = 0; j < i; ++j) {
                    if (rng() % 4 != 0 || j + 1 == i) {
                        engine::DuplicatePair p;
                        p.path1 = pathOf(next + i);
                        p.path2 = pathOf(next + j);
                        out.pairs.push_back(std::move(p));
                    }
                }
            }
            next += copies;
        }
        // Qualities by first appearance, as the groups number the files.
        out.qualities.resize(static_cast<std::size_t>(next));
        for (auto& q : out.qualities) {
            q.readable = true;
            q.lossless = rng() % 5 == 0;
            q.bitRate = 128000 + 32000 * static_cast<std::uint32_t>(rng() % 7);
            q.sampleRate = rng() % 2 == 0 ? 44100 : 48000;
            q.durationMs = 180000 + static_cast<std::uint32_t>(rng() % 3000);
            q.tagFields = static_cast<std::uint32_t>(rng() % 4);
        }
        return out;
    }();
    return r;
}

void BM_Baseline_IndexPairsByPath(benchmark::State& state) {
    const Result& r = result();
    for (auto _ : state) {
        std::unordered_map<std::u16string, std::size_t> byPath;
        for (std::size_t i = 0; i < r.pairs.size(); ++i) {
            byPath.try_emplace(r.pairs[i].path1, i);
            byPath.try_emplace(r.pairs[i].path2, i);
        }
        benchmark::DoNotOptimize(byPath.size());
    }
}
BENCHMARK(BM_Baseline_IndexPairsByPath)->Unit(benchmark::kMillisecond);

void BM_MarkAllButTheBest(benchmark::State& state) {
    const Result& r = result();
    const std::vector<std::u16string> references = {u"/home/listener/Music/Some Artist/Other"};
    const shell::KeeperRules rules;
    for (auto _ : state) {
        const shell::ResultGroups groups(r.pairs);
        const auto plan = shell::planMarks({groups, r.qualities, references, rules});
        benchmark::DoNotOptimize(plan.markedFiles);
    }
    state.counters["pairs"] = static_cast<double>(r.pairs.size());
}
BENCHMARK(BM_MarkAllButTheBest)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
