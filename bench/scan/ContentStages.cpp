#include "ContentStages.h"

#include "analysis/ContentComparison.h"
#include "analysis/ContentProjection.h"
#include "analysis/ContentSketch.h"
#include "analysis/PairScorer.h"
#include "analysis/ProjectionBytes.h"
#include "analysis/SpectrumBasis.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tonemirror::bench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kLearnAt = 2048;
constexpr std::size_t kLanes = analysis::ByteBlock::kLanes;
// Axis counts tried for the spectrum beyond the prefilter's: the bound from that many learned axes
// in single precision, with the level and section parts as the prefilter has them.
constexpr std::size_t kTried[] = {64, 96, 128, 192};
constexpr std::size_t kMostAxes = 192;

struct Library {
    std::vector<analysis::ContentKey> keys;
    std::vector<analysis::ContentSketch> sketches;
    std::vector<analysis::ContentProjection> projections;
    std::vector<analysis::ByteBlock> blocks;
    std::vector<analysis::ProjectionTail> tails;
    std::vector<analysis::FineProjection> fine;
    analysis::ByteSteps steps{};
    // Per track: kMostAxes coordinates, then the rests after each count in kTried.
    std::vector<float> wide;
};

constexpr std::size_t kWide = kMostAxes + std::size(kTried);

Library libraryOf(const std::vector<analysis::TrackRecord>& records) {
    Library lib;
    const std::size_t n = records.size();
    lib.keys.resize(n);
    lib.sketches.resize(n);
    std::vector<const analysis::ContentKey*> sample;
    for (std::size_t i = 0; i < n; ++i) {
        analysis::makeContentKey(records[i], lib.keys[i]);
        analysis::makeContentSketch(lib.keys[i], lib.sketches[i]);
        if (i < kLearnAt) {
            sample.push_back(&lib.keys[i]);
        }
    }
    const auto start = Clock::now();
    const analysis::SpectrumBasis narrowBasis = analysis::SpectrumBasis::learn(sample);
    const double narrow = std::chrono::duration<double>(Clock::now() - start).count();
    const auto fineStart = Clock::now();
    const analysis::SpectrumBasis basis = analysis::SpectrumBasis::learn(sample, analysis::kFineAxes);
    const double fine = std::chrono::duration<double>(Clock::now() - fineStart).count();
    const auto wideStart = Clock::now();
    const analysis::SpectrumBasis wide = analysis::SpectrumBasis::learn(sample, kMostAxes);
    const double wideSeconds = std::chrono::duration<double>(Clock::now() - wideStart).count();
    std::printf("  axes learned from %zu tracks: %zu in %.3f s, %zu in %.3f s, %zu in %.3f s\n",
                sample.size(), narrowBasis.axes(), narrow, basis.axes(), fine, kMostAxes, wideSeconds);
    lib.projections.resize(n);
    lib.wide.resize(n * kWide);
    std::vector<double> along(kMostAxes);
    for (std::size_t i = 0; i < n; ++i) {
        basis.project(lib.keys[i], lib.projections[i]);
        analysis::projectLevelAndSections(lib.keys[i], lib.sketches[i], lib.projections[i]);
        const double length = wide.coordinates(lib.keys[i], along.data());
        float* w = &lib.wide[i * kWide];
        for (std::size_t a = 0; a < kMostAxes; ++a) {
            w[a] = static_cast<float>(along[a]);
        }
        for (std::size_t t = 0; t < std::size(kTried); ++t) {
            w[kMostAxes + t] = analysis::SpectrumBasis::restAfter(along.data(), kTried[t], length);
        }
    }
    lib.steps = analysis::ByteSteps::learn({lib.projections.data(), std::min(n, kLearnAt)});
    lib.blocks.resize((n + kLanes - 1) / kLanes);
    lib.tails.resize(lib.blocks.size());
    for (std::size_t i = 0; i < n; ++i) {
        lib.fine.push_back(analysis::fineProjection(lib.projections[i]));
        analysis::storeByteLane(lib.projections[i], lib.steps, lib.blocks[i / kLanes], lib.tails[i / kLanes],
                                i % kLanes);
    }
    return lib;
}

float coefficient(float dot, float rests, bool constant) {
    return constant ? 1.0f : std::min(1.0f, std::fabs(dot) + rests + 2e-4f);
}

// The bound with the spectrum from the first `axes` wide coordinates (tried count t).
float wideBound(const Library& lib, std::size_t q, std::size_t v, std::size_t t) {
    const float* a = &lib.wide[q * kWide];
    const float* b = &lib.wide[v * kWide];
    float dot = 0.0f;
    for (std::size_t d = 0; d < kTried[t]; ++d) {
        dot += a[d] * b[d];
    }
    const analysis::ContentProjection& p = lib.projections[q];
    const analysis::ContentProjection& o = lib.projections[v];
    const std::uint32_t mask = p.constantMask | o.constantMask;
    float level = 0.0f;
    for (std::size_t d = 0; d < analysis::kProjectionLevelTerms; ++d) {
        level += p.level[d] * o.level[d];
    }
    float sections = 0.0f;
    for (std::size_t d = 0; d < analysis::kSectionCount; ++d) {
        sections += p.sections[d] * o.sections[d];
    }
    const float cs = coefficient(dot, a[kMostAxes + t] * b[kMostAxes + t], (mask & 1u) != 0);
    const float cl = coefficient(level, p.levelRest * o.levelRest, (mask & 2u) != 0);
    const float cc = coefficient(sections, 0.0f, (mask & 4u) != 0);
    return std::sqrt(0.6f * cs * cs + 0.2f * cl * cl + 0.2f * cc * cc) + 2e-4f;
}

struct AheadCounts {
    std::size_t fine = 0;
    std::size_t sketch = 0;
    double sketchSeconds = 0.0;
    double keySeconds = 0.0;
};

struct Counts {
    std::size_t pairs = 0;
    std::size_t first = 0;
    std::size_t second = 0;
    std::size_t fine = 0;
    std::size_t sketch = 0;
    std::size_t key = 0;
    std::size_t exact = 0;
    std::size_t sketchAlone = 0; // the sketch on all of the second stage's, as without the third
    std::size_t keyAlone = 0;    // the key bound on all of them
    std::size_t tried[std::size(kTried)] = {};
    double maskSeconds = 0.0;
    double fineSeconds = 0.0;
    double sketchSeconds = 0.0;
    double keySeconds = 0.0;
    double exactSeconds = 0.0;
    double sketchAloneSeconds = 0.0;
    double withoutSeconds = 0.0; // the key bound and the exact score after the sketch alone
};

template <typename F>
double timed(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The positions of `from` whose pair with `me` passes `reaches`, timed.
template <typename Reaches>
std::vector<std::uint32_t> passing(const std::vector<std::uint32_t>& from, double& seconds,
                                   Reaches&& reaches) {
    std::vector<std::uint32_t> out;
    out.reserve(from.size());
    seconds += timed([&] {
        for (std::uint32_t v : from) {
            if (reaches(v)) {
                out.push_back(v);
            }
        }
    });
    return out;
}

std::vector<std::uint32_t> stages(const Library& lib, std::size_t me, float floor, Counts& c) {
    const analysis::ByteQuery q =
        analysis::byteQuery(lib.blocks[me / kLanes], lib.tails[me / kLanes], me % kLanes, lib.steps);
    const std::size_t blocks = (me + kLanes - 1) / kLanes;
    std::vector<std::uint8_t> masks(blocks);
    c.maskSeconds += timed([&] {
        analysis::bytePassMasks(q, {lib.blocks.data(), blocks}, {lib.tails.data(), blocks}, floor,
                                masks.data());
    });
    std::vector<std::uint32_t> second;
    for (std::size_t b = 0; b < blocks; ++b) {
        float first[kLanes];
        float both[kLanes];
        analysis::byteStageBounds(q, lib.blocks[b], lib.tails[b], first, both);
        for (std::size_t l = 0; l < kLanes && b * kLanes + l < me; ++l) {
            c.first += first[l] >= floor ? 1 : 0;
            if (both[l] >= floor) {
                second.push_back(static_cast<std::uint32_t>(b * kLanes + l));
            }
        }
    }
    return second;
}

// The same as passing(), with the forms of the pair `ahead` positions on fetched before each bound,
// as a loop over candidates named anywhere in memory can.
template <typename Reaches, typename Fetch>
std::vector<std::uint32_t> passingAhead(const std::vector<std::uint32_t>& from, double& seconds,
                                        Reaches&& reaches, Fetch&& fetch) {
    constexpr std::size_t kAhead = 4;
    std::vector<std::uint32_t> out;
    out.reserve(from.size());
    seconds += timed([&] {
        for (std::size_t k = 0; k < std::min(kAhead, from.size()); ++k) {
            fetch(from[k]);
        }
        for (std::size_t k = 0; k < from.size(); ++k) {
            if (k + kAhead < from.size()) {
                fetch(from[k + kAhead]);
            }
            if (reaches(from[k])) {
                out.push_back(from[k]);
            }
        }
    });
    return out;
}

void fetchLines(const void* data, std::size_t bytes) {
    for (std::size_t at = 0; at < bytes; at += 64) {
        __builtin_prefetch(static_cast<const char*>(data) + at);
    }
}

// The sketch and key bounds of another set of queries, each with its forms fetched ahead (a query of
// its own, so that neither way finds the other's lines in the cache).
void countAheadQuery(const Library& lib, std::size_t me, float floor, AheadCounts& c) {
    Counts unused;
    std::vector<std::uint32_t> fine = stages(lib, me, floor, unused);
    fine.resize(analysis::keepFineReaching(analysis::fineQuery(lib.fine[me]), lib.fine, fine, floor));
    const auto sketched = passingAhead(
        fine, c.sketchSeconds,
        [&](std::uint32_t v) {
            return analysis::contentSketchBound(lib.sketches[me], lib.sketches[v]) >= floor;
        },
        [&](std::uint32_t v) { fetchLines(&lib.sketches[v], sizeof(analysis::ContentSketch)); });
    passingAhead(
        sketched, c.keySeconds,
        [&](std::uint32_t v) { return analysis::contentUpperBound(lib.keys[me], lib.keys[v]) >= floor; },
        [&](std::uint32_t v) {
            const analysis::ContentKey& key = lib.keys[v];
            fetchLines(&key, sizeof key);
            fetchLines(key.spectrum.values, analysis::ContentKey::kBoundPrefix * sizeof(std::uint16_t));
            fetchLines(key.level.values, analysis::kLevelProfileSize * sizeof(float));
        });
    c.fine += fine.size();
    c.sketch += sketched.size();
}

void countQuery(const Library& lib, std::size_t me, float floor, Counts& c) {
    const std::vector<std::uint32_t> second = stages(lib, me, floor, c);
    c.pairs += me;
    c.second += second.size();
    std::vector<std::uint32_t> fine = second;
    c.fineSeconds += timed([&] {
        fine.resize(analysis::keepFineReaching(analysis::fineQuery(lib.fine[me]), lib.fine, fine, floor));
    });
    const auto sketchReaches = [&](std::uint32_t v) {
        return analysis::contentSketchBound(lib.sketches[me], lib.sketches[v]) >= floor;
    };
    const auto sketched = passing(fine, c.sketchSeconds, sketchReaches);
    const auto keyReaches = [&](std::uint32_t v) {
        return analysis::contentUpperBound(lib.keys[me], lib.keys[v]) >= floor;
    };
    const auto exactReaches = [&](std::uint32_t v) {
        return analysis::compareContent(lib.keys[me], lib.keys[v]) >= floor;
    };
    const auto keyed = passing(sketched, c.keySeconds, keyReaches);
    const auto exact = passing(keyed, c.exactSeconds, exactReaches);
    c.fine += fine.size();
    c.sketch += sketched.size();
    c.key += keyed.size();
    c.exact += exact.size();
    // The steps as they ran without the third stage.
    const auto sketchedAlone = passing(second, c.sketchAloneSeconds, sketchReaches);
    c.sketchAlone += sketchedAlone.size();
    passing(passing(sketchedAlone, c.withoutSeconds, keyReaches), c.withoutSeconds, exactReaches);
    for (std::uint32_t v : second) {
        c.keyAlone += analysis::contentUpperBound(lib.keys[me], lib.keys[v]) >= floor ? 1 : 0;
        for (std::size_t t = 0; t < std::size(kTried); ++t) {
            c.tried[t] += wideBound(lib, me, v, t) >= floor ? 1 : 0;
        }
    }
}

double share(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

double nsEach(double seconds, std::size_t count) {
    return count == 0 ? 0.0 : 1e9 * seconds / static_cast<double>(count);
}

} // namespace

void printContentStages(const std::vector<analysis::TrackRecord>& records, float threshold) {
    const std::size_t n = records.size();
    std::printf("%zu tracks, content floor %.2f:\n", n, threshold);
    if (n <= kLearnAt) {
        std::printf("  too few tracks for the prefilter\n");
        return;
    }
    const Library lib = libraryOf(records);
    const float floor = threshold - analysis::PairScorer::kBoundMargin;
    Counts c;
    // About 2,000 queries spread over the tracks after the axes are learned.
    const std::size_t step = std::max<std::size_t>(1, (n - kLearnAt) / 2000);
    AheadCounts ahead;
    for (std::size_t me = kLearnAt; me < n; me += step) {
        countQuery(lib, me, floor, c);
        if (me + step / 2 < n && step > 1) {
            countAheadQuery(lib, me + step / 2, floor, ahead);
        }
    }
    std::printf("  %zu pairs: stage 1 passes %.3f %%, stage 2 %.3f %%, stage 3 %.4f %%, sketch %.4f %%, "
                "key bound %.4f %%, exact %.5f %%\n",
                c.pairs, share(c.first, c.pairs), share(c.second, c.pairs), share(c.fine, c.pairs),
                share(c.sketch, c.pairs), share(c.key, c.pairs), share(c.exact, c.pairs));
    std::printf(
        "  of stage 2's: stage 3 passes %.1f %%, the sketch alone %.1f %%, the key bound alone %.1f %%, "
        "exact %.2f %%\n",
        share(c.fine, c.second), share(c.sketchAlone, c.second), share(c.keyAlone, c.second),
        share(c.exact, c.second));
    std::printf("  ns a pair seen: stages 1+2 %.2f, stage 3 %.1f, sketch %.1f (on all of stage 2's %.1f), "
                "key bound %.1f, exact %.1f\n",
                nsEach(c.maskSeconds, c.pairs), nsEach(c.fineSeconds, c.second),
                nsEach(c.sketchSeconds, c.fine), nsEach(c.sketchAloneSeconds, c.second),
                nsEach(c.keySeconds, c.sketch), nsEach(c.exactSeconds, c.key));
    std::printf("  with the forms fetched four pairs ahead (other queries), ns a pair seen: sketch %.1f, key "
                "bound %.1f\n",
                nsEach(ahead.sketchSeconds, ahead.fine), nsEach(ahead.keySeconds, ahead.sketch));
    std::printf("  after stage 2, ns a pair of all: %.3f with stage 3, %.3f without (the sketch on all)\n",
                nsEach(c.fineSeconds + c.sketchSeconds + c.keySeconds + c.exactSeconds, c.pairs),
                nsEach(c.sketchAloneSeconds + c.withoutSeconds, c.pairs));
    for (std::size_t t = 0; t < std::size(kTried); ++t) {
        std::printf("  %zu axes in floats: pass %.1f %% of stage 2's\n", kTried[t],
                    share(c.tried[t], c.second));
    }
    std::fflush(stdout);
}

} // namespace tonemirror::bench
