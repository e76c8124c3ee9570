// Text likeness: the measure computed the obvious way (every length, start and candidate position) against
// the longest-common-extension form the library uses; compareTags against its upper bound.
#include "analysis/TagComparison.h"
#include "analysis/TextLikeness.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tonemirror::analysis {
namespace {

float literalLikeness(std::u16string_view x, std::u16string_view y) {
    const std::size_t l = std::min(x.size(), y.size());
    std::uint64_t total = 0;
    std::uint64_t found = 0;
    const auto side = [&](std::u16string_view a, std::u16string_view b, std::size_t len) {
        for (std::size_t s = 0; s + len <= a.size(); ++s) {
            ++total;
            for (std::size_t t = 0; t + len <= b.size(); ++t) {
                if (a.compare(s, len, b, t, len) == 0) {
                    ++found;
                    break;
                }
            }
        }
    };
    for (std::size_t len = 1; len <= l; ++len) {
        side(x, y, len);
        side(y, x, len);
    }
    return total == 0 ? 0.0f : static_cast<float>(static_cast<double>(found) / static_cast<double>(total));
}

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

TrackRecord record(std::u16string name, std::u16string title, std::u16string artist, std::u16string album) {
    TrackRecord r;
    r.nameText = std::move(name);
    r.titleText = std::move(title);
    r.artistText = std::move(artist);
    r.albumText = std::move(album);
    return r;
}

// A small collection as a scan meets it: several songs of one artist and album, re-released copies,
// files without tags, names in the usual "number - artist - title" forms.
std::vector<TrackRecord> collection() {
    return {
        record(u"01 - northern lights - harbour song", u"harbour song", u"northern lights", u"coastlines"),
        record(u"02 - northern lights - glass river", u"glass river", u"northern lights", u"coastlines"),
        record(u"03 - northern lights - the quiet hour", u"the quiet hour", u"northern lights",
               u"coastlines"),
        record(u"northern lights - harbour song (2011 remaster)", u"harbour song (2011 remaster)",
               u"northern lights", u"coastlines (deluxe edition)"),
        record(u"harbour song live", u"harbour song - live in oslo", u"the northern lights", u"live in oslo"),
        record(u"track04", u"", u"", u""),
        record(u"07 velvet morning", u"velvet morning", u"ana ruiz & the strangers", u"after the rain"),
        record(u"08 paper planes", u"paper planes", u"ana ruiz & the strangers", u"after the rain"),
        record(u"ana ruiz - velvet morning", u"ana ruiz", u"velvet morning", u""),
        record(u"11. midnight train to memphis", u"midnight train to memphis", u"j.j. holloway",
               u"greatest hits"),
        record(u"12. sweet carolina rain", u"sweet carolina rain", u"j.j. holloway", u"greatest hits"),
        record(u"midnight train to memphis (radio edit)", u"midnight train to memphis (radio edit)",
               u"jj holloway", u"singles 1972-1979"),
        record(u"a1 - drift", u"drift", u"kōan collective", u"slow water"),
        record(u"b2 - undertow", u"undertow", u"kōan collective", u"slow water"),
        record(u"symphony no. 5 in c minor, op. 67 - i. allegro con brio",
               u"symphony no. 5 in c minor, op. 67: i. allegro con brio", u"berlin philharmonic",
               u"the nine symphonies"),
        record(u"symphony no 5 - 1st movement", u"allegro con brio", u"berliner philharmoniker", u""),
        record(u"02 - northern lights - glass river", u"glass river", u"northern lights", u"coastlines"),
        record(u"08 paper planes (1)", u"paper planes", u"ana ruiz & the strangers", u"after the rain"),
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

} // namespace
} // namespace tonemirror::analysis

BENCHMARK_MAIN();
