// Loading a stored "Folders" list of 20,000 entries as the folder tree does at start-up, against the
// pair-by-pair rule it replaced, in the same run.
#include "shell/TickedFolders.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace tonemirror;

std::vector<std::u16string> storedFolders(int count) {
    std::vector<std::u16string> folders;
    for (int i = 0; i < count; ++i) {
        const std::u16string n = [&] {
            const std::string s = std::to_string(i);
            return std::u16string(s.begin(), s.end());
        }();
        folders.push_back(u"/home/user/Music/Artist " + n.substr(0, 2) + u"/Album " + n);
    }
    return folders;
}

std::vector<std::u16string> pairwise(std::vector<std::u16string> folders) {
    for (std::size_t i = 0; i < folders.size();) {
        bool redundant = false;
        for (std::size_t j = 0; j < folders.size() && !redundant; ++j) {
            redundant = j != i && (folders[j] == folders[i] || shell::pathInside(folders[j], folders[i]));
        }
        if (redundant) {
            folders.erase(folders.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return folders;
}

void BM_LoadStoredFolders(benchmark::State& state) {
    const auto folders = storedFolders(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(shell::dropRedundantFolders(folders));
    }
}

void BM_PairwiseBaseline(benchmark::State& state) {
    const auto folders = storedFolders(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(pairwise(folders));
    }
}

BENCHMARK(BM_LoadStoredFolders)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PairwiseBaseline)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
