// Costs of the acoustic fingerprint and match, each beside the content step a scan already pays for
// the same thing: the print of a 30 s excerpt (and of the longer opening verification prints) against
// that excerpt's spectra and level profile, and a match of two long prints against the prepared
// content score of two tracks.
#include "analysis/AcousticFingerprinter.h"
#include "analysis/AcousticMatch.h"
#include "analysis/ContentComparison.h"
#include "analysis/ExcerptReader.h"
#include "analysis/LevelProfile.h"
#include "analysis/SpectrumProfile.h"
#include "support/RealShapedRecord.h"
#include "support/ToneSong.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

namespace {

using namespace tonemirror;
using namespace tonemirror::analysis;

constexpr std::size_t kExcerpt = 30 * 22050;

std::vector<float> excerptOf(std::uint32_t seed, std::size_t length = kExcerpt) {
    fakes::ToneSynth synth(seed);
    std::vector<float> out(length);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<float>(synth.sample(i));
    }
    return out;
}

void BM_ContentPrint30s(benchmark::State& state) {
    const std::vector<float> samples = excerptOf(1);
    SpectrumProfile spectra;
    TrackRecord record;
    for (auto _ : state) {
        if (failed(spectra.compute(samples, record))) {
            state.SkipWithError("content print failed");
            break;
        }
        LevelProfile::compute(samples, record.levelProfile);
        benchmark::DoNotOptimize(record.meanSpectrum.halves());
    }
    state.SetLabel("baseline");
}
BENCHMARK(BM_ContentPrint30s)->Unit(benchmark::kMillisecond);

// Prints the samples once per iteration.
void printEach(benchmark::State& state, const std::vector<float>& samples, const char* label) {
    AcousticFingerprinter fingerprinter;
    AcousticPrint print;
    for (auto _ : state) {
        if (failed(fingerprinter.compute(samples.data(), samples.size(), print))) {
            state.SkipWithError("acoustic print failed");
            break;
        }
        benchmark::DoNotOptimize(print.data());
    }
    state.SetLabel(label);
}

void BM_AcousticPrint30s(benchmark::State& state) {
    printEach(state, excerptOf(1), "goal: near the baseline");
}
BENCHMARK(BM_AcousticPrint30s)->Unit(benchmark::kMillisecond);

void BM_AcousticPrintLong(benchmark::State& state) {
    printEach(state, excerptOf(1, kAcousticSpanLength), "the span a verifying scan prints");
}
BENCHMARK(BM_AcousticPrintLong)->Unit(benchmark::kMillisecond);

// Prints of distinct pieces, made once for the match benchmarks.
const std::vector<AcousticPrint>& prints() {
    static const std::vector<AcousticPrint> all = [] {
        std::vector<AcousticPrint> out;
        AcousticFingerprinter fingerprinter;
        for (std::uint32_t seed = 1; seed <= 16; ++seed) {
            const std::vector<float> x = excerptOf(seed, kAcousticSpanLength);
            out.emplace_back();
            fingerprinter.compute(x.data(), x.size(), out.back());
        }
        return out;
    }();
    return all;
}

void BM_ContentScorePair(benchmark::State& state) {
    std::mt19937 rng(3);
    auto keys = std::make_unique<ContentKey[]>(16);
    std::vector<TrackRecord> records; // the keys point at their values
    for (std::size_t i = 0; i < 16; ++i) {
        records.push_back(realShapedRecord(rng));
    }
    for (std::size_t i = 0; i < 16; ++i) {
        makeContentKey(records[i], keys[i]);
    }
    float sum = 0.0f;
    std::size_t i = 0;
    for (auto _ : state) {
        sum += compareContent(keys[i % 16], keys[(i + 5) % 16]);
        ++i;
    }
    benchmark::DoNotOptimize(sum);
    state.SetLabel("baseline");
}
BENCHMARK(BM_ContentScorePair);

void BM_AcousticScorePair(benchmark::State& state) {
    const auto& all = prints();
    float sum = 0.0f;
    std::size_t i = 0;
    for (auto _ : state) {
        sum += compareAcoustic(all[i % all.size()], all[(i + 5) % all.size()]);
        ++i;
    }
    benchmark::DoNotOptimize(sum);
    state.SetLabel("243 alignments of ~730 words");
}
BENCHMARK(BM_AcousticScorePair);

// What a reported pair of copies pays for its sound score: the same piece, a few frames later and
// with one bit in ten flipped.
void BM_AcousticScoreCopy(benchmark::State& state) {
    const auto& all = prints();
    std::vector<AcousticPrint> copies;
    std::mt19937 rng(3);
    for (const AcousticPrint& p : all) {
        AcousticPrint c(p.begin() + 5, p.end());
        for (auto& w : c) {
            for (unsigned bit = 0; bit < 32; ++bit) {
                w ^= rng() % 10 == 0 ? 1u << bit : 0u;
            }
        }
        copies.push_back(std::move(c));
    }
    float sum = 0.0f;
    std::size_t i = 0;
    for (auto _ : state) {
        sum += compareAcoustic(all[i % all.size()], copies[i % all.size()]);
        ++i;
    }
    benchmark::DoNotOptimize(sum);
    state.SetLabel("a copy: the longest overlaps first");
}
BENCHMARK(BM_AcousticScoreCopy);

// What verification pays for a candidate that is not a copy: the screen alone.
void BM_AcousticDecidePair(benchmark::State& state) {
    const auto& all = prints();
    float sum = 0.0f;
    std::size_t i = 0;
    for (auto _ : state) {
        sum += compareAcousticAtLeast(all[i % all.size()], all[(i + 5) % all.size()], 0.5f);
        ++i;
    }
    benchmark::DoNotOptimize(sum);
    state.SetLabel("threshold 0.5, unrelated pieces");
}
BENCHMARK(BM_AcousticDecidePair);

void BM_AcousticDecode(benchmark::State& state) {
    std::vector<std::byte> stored;
    encodeAcousticPrint(prints()[0], AcousticFingerprinter::algorithm(), stored);
    AcousticPrint print;
    for (auto _ : state) {
        decodeAcousticPrint(stored, AcousticFingerprinter::algorithm(), print);
        benchmark::DoNotOptimize(print.data());
    }
}
BENCHMARK(BM_AcousticDecode);

} // namespace

BENCHMARK_MAIN();
