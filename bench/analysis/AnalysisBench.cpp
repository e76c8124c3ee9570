// Costs of the analysis: transforms, fingerprinting an excerpt, content comparison (direct formula as
// the baseline for the prepared keys) and the experimental comparison.
#include "analysis/ContentComparison.h"
#include "analysis/ExcerptReader.h"
#include "analysis/ExperimentalComparison.h"
#include "analysis/LevelProfile.h"
#include "analysis/SignalMath.h"
#include "analysis/SpectrumProfile.h"
#include "support/RealShapedRecord.h"
#include "support/ReferenceFft.h"
#include "support/TestSignals.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace tonemirror;
using namespace tonemirror::analysis;

// The test suite's music-like signal (notes of random pitch, length and loudness), as floats.
std::vector<float> musicLike(std::size_t n, unsigned seed) {
    const fakes::Signal pcm = fakes::music(n, seed);
    std::vector<float> x(pcm.size());
    std::transform(pcm.begin(), pcm.end(), x.begin(), [](std::int16_t v) { return v / 32768.0f; });
    return x;
}

template <void (*Transform)(float*, float*, std::size_t)>
void BM_Fft(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::vector<float> input = musicLike(n, 1);
    std::vector<float> re(n);
    std::vector<float> im(n);
    for (auto _ : state) {
        std::copy(input.begin(), input.end(), re.begin());
        std::fill(im.begin(), im.end(), 0.0f);
        Transform(re.data(), im.data(), n);
        benchmark::DoNotOptimize(re.data());
    }
}
BENCHMARK(BM_Fft<fft>)->Name("fft/table")->Arg(2048)->Arg(65536);
BENCHMARK(BM_Fft<referenceFft>)->Name("fft/perKTwiddles")->Arg(2048)->Arg(65536);

// Excerpt search, spectra and level profile of 30 s of decoded audio (2 s of lead-in silence).
void BM_Fingerprint30s(benchmark::State& state) {
    std::vector<float> audio(2 * 22050, 0.0f);
    const std::vector<float> music = musicLike(35 * 22050, 2);
    audio.insert(audio.end(), music.begin(), music.end());
    ExcerptReader excerpt;
    SpectrumProfile spectra;
    TrackRecord record;
    for (auto _ : state) {
        std::size_t pos = 0;
        const BlockReader read = [&](const float** samples, std::uint32_t* count) {
            if (pos >= audio.size()) {
                return E_END_OF_STREAM;
            }
            const std::size_t take = std::min<std::size_t>(4608, audio.size() - pos);
            *samples = audio.data() + pos;
            *count = static_cast<std::uint32_t>(take);
            pos += take;
            return S_OK;
        };
        if (failed(excerpt.read(read)) || failed(spectra.compute(excerpt.samples(), record))) {
            state.SkipWithError("extraction failed");
            break;
        }
        LevelProfile::compute(excerpt.samples(), record.levelProfile);
        benchmark::DoNotOptimize(record.meanSpectrum.halves());
    }
    state.SetLabel("goal: < 20 ms");
}
BENCHMARK(BM_Fingerprint30s)->Unit(benchmark::kMillisecond);

// Real-shaped fingerprints of `count` tracks.
std::vector<TrackRecord> records(std::size_t count) {
    std::mt19937 rng(3);
    std::vector<TrackRecord> out(count);
    for (auto& r : out) {
        r = realShapedRecord(rng);
    }
    return out;
}

// One new track against every earlier one, as the scan does: the argument is the number of earlier
// tracks (1000 fit in the caches, 10000 stream from memory).
void BM_CompareContentDirect(benchmark::State& state) {
    const auto tracks = records(static_cast<std::size_t>(state.range(0)) + 1);
    float sum = 0.0f;
    for (auto _ : state) {
        for (std::size_t i = 1; i < tracks.size(); ++i) {
            sum += compareContent(tracks[0], tracks[i]);
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * (state.range(0)));
}
BENCHMARK(BM_CompareContentDirect)->Arg(1000);

template <float (*Score)(const ContentKey&, const ContentKey&)>
void BM_CompareContentKeys(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0)) + 1;
    const auto tracks = records(count);
    auto keys = std::make_unique<ContentKey[]>(count);
    for (std::size_t i = 0; i < count; ++i) {
        makeContentKey(tracks[i], keys[i]);
    }
    float sum = 0.0f;
    for (auto _ : state) {
        for (std::size_t i = 1; i < count; ++i) {
            sum += Score(keys[0], keys[i]);
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CompareContentKeys<compareContent>)->Name("BM_CompareContentFast")->Arg(1000)->Arg(10000);
BENCHMARK(BM_CompareContentKeys<contentUpperBound>)->Name("BM_ContentUpperBound")->Arg(1000)->Arg(10000);

void BM_MakeContentKey(benchmark::State& state) {
    const auto tracks = records(64);
    ContentKey key{};
    std::size_t i = 0;
    for (auto _ : state) {
        makeContentKey(tracks[i++ % tracks.size()], key);
        benchmark::DoNotOptimize(&key);
    }
}
BENCHMARK(BM_MakeContentKey);

// The experimental comparison of two 60 s excerpts after decoding (curves, bands, probes).
void BM_ExperimentalCompare(benchmark::State& state) {
    const std::vector<float> a = musicLike(kLongExcerptLength, 4);
    std::vector<float> b(3 * 22050, 0.0f);
    b.insert(b.end(), a.begin(), a.end() - 3 * 22050);
    ExperimentalComparison comparison;
    float score = 0.0f;
    for (auto _ : state) {
        if (failed(comparison.compare(a, 0.1f, b, 0.1f, &score))) {
            state.SkipWithError("comparison failed");
            break;
        }
    }
    state.counters["score"] = score;
}
BENCHMARK(BM_ExperimentalCompare)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
