// Text likeness: the measure computed the obvious way (every length, start and candidate position) against
// the longest-common-extension form the library uses; compareTags against its upper bound.
#include "analysis/TagComparison.h"
#include "analysis/TextLikeness.h"
#include "support/LiteralLikeness.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tonemirror::analysis {
namespace {

// Two tag-like texts of the given length that share words but differ in order, spelling and extras,
// the usual case for two versions of one song.
std::pair<std::u16string, std::u16string> similarTexts(std::size_t length) {
    std::u16string x = u"the long and winding road (remastered 2009) - live at the hollywood bowl";
    std::u16string y = u"long & winding road, the [live] hollywood bowl 1965 remaster version edit";
    x.resize(length);
    y.resize(length);
    return {x, y};
}

void textLikenessLiteral(benchmark::State& state) {
    const auto [x, y] = similarTexts(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(literalLikeness(x, y));
    }
}
BENCHMARK(textLikenessLiteral)->Arg(10)->Arg(30)->Arg(60);

void textLikenessFast(benchmark::State& state) {
    const auto [x, y] = similarTexts(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(textLikeness(x, y));
    }
}
BENCHMARK(textLikenessFast)->Arg(10)->Arg(30)->Arg(60);

// A small collection as a scan meets it: several songs of one artist and album, re-released copies,
// files without tags, names in the usual "number - artist - title" forms.
std::vector<TrackRecord> collection() {
    return {
        tagRecord(u"01 - northern lights - harbour song", u"harbour song", u"northern lights", u"coastlines"),
        tagRecord(u"02 - northern lights - glass river", u"glass river", u"northern lights", u"coastlines"),
        tagRecord(u"03 - northern lights - the quiet hour", u"the quiet hour", u"northern lights",
                  u"coastlines"),
        tagRecord(u"northern lights - harbour song (2011 remaster)", u"harbour song (2011 remaster)",
                  u"northern lights", u"coastlines (deluxe edition)"),
        tagRecord(u"harbour song live", u"harbour song - live in oslo", u"the northern lights",
                  u"live in oslo"),
        tagRecord(u"track04", u"", u"", u""),
        tagRecord(u"07 velvet morning", u"velvet morning", u"ana ruiz & the strangers", u"after the rain"),
        tagRecord(u"08 paper planes", u"paper planes", u"ana ruiz & the strangers", u"after the rain"),
        tagRecord(u"ana ruiz - velvet morning", u"ana ruiz", u"velvet morning", u""),
        tagRecord(u"11. midnight train to memphis", u"midnight train to memphis", u"j.j. holloway",
                  u"greatest hits"),
        tagRecord(u"12. sweet carolina rain", u"sweet carolina rain", u"j.j. holloway", u"greatest hits"),
        tagRecord(u"midnight train to memphis (radio edit)", u"midnight train to memphis (radio edit)",
                  u"jj holloway", u"singles 1972-1979"),
        tagRecord(u"a1 - drift", u"drift", u"kōan collective", u"slow water"),
        tagRecord(u"b2 - undertow", u"undertow", u"kōan collective", u"slow water"),
        tagRecord(u"symphony no. 5 in c minor, op. 67 - i. allegro con brio",
                  u"symphony no. 5 in c minor, op. 67: i. allegro con brio", u"berlin philharmonic",
                  u"the nine symphonies"),
        tagRecord(u"symphony no 5 - 1st movement", u"allegro con brio", u"berliner philharmoniker", u""),
        tagRecord(u"02 - northern lights - glass river", u"glass river", u"northern lights", u"coastlines"),
        tagRecord(u"08 paper planes (1)", u"paper planes", u"ana ruiz & the strangers", u"after the rain"),
    };
}

void compareTagsScore(benchmark::State& state) {
    const auto records = collection();
    for (auto _ : state) {
        for (std::size_t i = 1; i < records.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                benchmark::DoNotOptimize(compareTags(records[i], records[j]));
            }
        }
    }
    const auto n = static_cast<std::int64_t>(records.size());
    state.SetItemsProcessed(state.iterations() * n * (n - 1) / 2);
}
BENCHMARK(compareTagsScore);

void compareTagsBound(benchmark::State& state) {
    const auto records = collection();
    std::vector<TagSketch> sketches;
    for (const auto& r : records) {
        sketches.push_back(makeTagSketch(r));
    }
    std::int64_t skippable = 0;
    for (auto _ : state) {
        skippable = 0;
        for (std::size_t i = 1; i < records.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                const float bound = compareTagsUpperBound(sketches[i], sketches[j]);
                benchmark::DoNotOptimize(bound);
                skippable += bound < 0.75f ? 1 : 0;
            }
        }
    }
    const auto n = static_cast<std::int64_t>(records.size());
    state.SetItemsProcessed(state.iterations() * n * (n - 1) / 2);
    // Share of pairs the default threshold (75 %) lets the scan skip.
    state.counters["skippable"] = static_cast<double>(skippable) / static_cast<double>(n * (n - 1) / 2);
}
BENCHMARK(compareTagsBound);

// The same pairs asked only whether the bound reaches the default threshold, as the scan asks.
void tagsBoundReachesDefault(benchmark::State& state) {
    const auto records = collection();
    std::vector<TagSketch> sketches;
    for (const auto& r : records) {
        sketches.push_back(makeTagSketch(r));
    }
    std::int64_t passing = 0;
    for (auto _ : state) {
        passing = 0;
        for (std::size_t i = 1; i < records.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                passing += tagsBoundReaches(sketches[i], sketches[j], 0.75f - 1e-4f) ? 1 : 0;
            }
        }
        benchmark::DoNotOptimize(passing);
    }
    const auto n = static_cast<std::int64_t>(records.size());
    state.SetItemsProcessed(state.iterations() * n * (n - 1) / 2);
    state.counters["passing"] = static_cast<double>(passing) / static_cast<double>(n * (n - 1) / 2);
}
BENCHMARK(tagsBoundReachesDefault);

} // namespace
} // namespace tonemirror::analysis

BENCHMARK_MAIN();
