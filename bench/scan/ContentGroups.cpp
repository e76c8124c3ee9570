#include "ContentGroups.h"

#include "analysis/ContentComparison.h"
#include "analysis/ContentProjection.h"
#include "analysis/ContentSketch.h"
#include "analysis/SpectrumBasis.h"
#include "engine/ContentPrefilter.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

namespace tonemirror::bench {

namespace {

using analysis::kFirstStageAxes;
using analysis::kProjectionLevelTerms;
using analysis::kSectionCount;

constexpr std::size_t kDims = kFirstStageAxes + kProjectionLevelTerms + kSectionCount;
constexpr std::size_t kParts = 3;
constexpr std::size_t kPartFrom[kParts + 1] = {0, kFirstStageAxes, kFirstStageAxes + kProjectionLevelTerms,
                                               kDims};
constexpr float kWeights[kParts] = {0.6f, 0.2f, 0.2f};
constexpr std::size_t kLearnedFrom = 2048;
bool gSignless = false;

using Values = std::array<float, kDims>;

struct Point {
    Values x{};
    float rest[kParts] = {}; // the sections have none
    unsigned constant = 0;
};

struct Group {
    Values lo{};
    Values hi{};
    Values centre{};
    float radius[kParts] = {};
    float rest[kParts] = {};
    unsigned constant = 0;
    std::size_t members = 0;
};

std::size_t partOf(std::size_t d) {
    return d < kPartFrom[1] ? 0 : d < kPartFrom[2] ? 1 : 2;
}

std::vector<Point> pointsOf(const std::vector<analysis::TrackRecord>& records) {
    std::vector<analysis::ContentKey> keys(records.size());
    std::vector<const analysis::ContentKey*> sample;
    for (std::size_t i = 0; i < records.size(); ++i) {
        analysis::makeContentKey(records[i], keys[i]);
        if (i < kLearnedFrom) {
            sample.push_back(&keys[i]);
        }
    }
    const analysis::SpectrumBasis basis = analysis::SpectrumBasis::learn(sample);
    std::vector<Point> points(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        analysis::ContentSketch sketch;
        analysis::makeContentSketch(keys[i], sketch);
        analysis::ContentProjection p{};
        basis.project(keys[i], p);
        analysis::projectLevelAndSections(keys[i], sketch, p);
        std::copy(p.spectrum, p.spectrum + kFirstStageAxes, points[i].x.begin());
        std::copy(p.level, p.level + kProjectionLevelTerms, points[i].x.begin() + kPartFrom[1]);
        std::copy(p.sections, p.sections + kSectionCount, points[i].x.begin() + kPartFrom[2]);
        points[i].rest[0] = p.spectrumRestFirst;
        points[i].rest[1] = p.levelRest;
        points[i].constant = p.constantMask;
    }
    return points;
}

// Each part of x turned to the side of the centre it lies nearer (every part's bound takes the
// magnitude of its dot product, so a member may be kept with any part negated), and the distance.
float turnedDistance2(Values& x, const Values& centre) {
    float sum = 0.0f;
    for (std::size_t part = 0; part < kParts; ++part) {
        float same = 0.0f;
        float opposite = 0.0f;
        for (std::size_t d = kPartFrom[part]; d < kPartFrom[part + 1]; ++d) {
            same += (x[d] - centre[d]) * (x[d] - centre[d]);
            opposite += (x[d] + centre[d]) * (x[d] + centre[d]);
        }
        if (gSignless && opposite < same) {
            for (std::size_t d = kPartFrom[part]; d < kPartFrom[part + 1]; ++d) {
                x[d] = -x[d];
            }
        }
        sum += kWeights[part] * (gSignless ? std::min(same, opposite) : same);
    }
    return sum;
}

// The nearest centre; x is turned to its side.
std::size_t nearest(Values& x, const std::vector<Values>& centres) {
    std::size_t best = 0;
    float bestDistance = 0.0f;
    for (std::size_t c = 0; c < centres.size(); ++c) {
        Values turned = x;
        const float d = turnedDistance2(turned, centres[c]);
        best = c == 0 || d < bestDistance ? c : best;
        bestDistance = c == 0 || d < bestDistance ? d : bestDistance;
    }
    turnedDistance2(x, centres[best]);
    return best;
}

// k-means on the tracks the axes are learned from.
std::vector<Values> centresOf(const std::vector<Point>& points, std::size_t k) {
    std::mt19937 rng(5);
    const std::size_t sample = std::min(points.size(), kLearnedFrom);
    std::vector<Values> centres(k);
    for (Values& c : centres) {
        c = points[rng() % sample].x;
    }
    for (int round = 0; round < 8; ++round) {
        std::vector<std::array<double, kDims>> sums(k, std::array<double, kDims>{});
        std::vector<std::size_t> counts(k, 0);
        for (std::size_t i = 0; i < sample; ++i) {
            Values x = points[i].x;
            const std::size_t c = nearest(x, centres);
            ++counts[c];
            for (std::size_t d = 0; d < kDims; ++d) {
                sums[c][d] += x[d];
            }
        }
        for (std::size_t c = 0; c < k; ++c) {
            for (std::size_t d = 0; counts[c] > 0 && d < kDims; ++d) {
                centres[c][d] = static_cast<float>(sums[c][d] / static_cast<double>(counts[c]));
            }
        }
    }
    return centres;
}

void join(Group& g, const Point& p) {
    g.lo = g.members == 0 ? p.x : g.lo;
    g.hi = g.members == 0 ? p.x : g.hi;
    for (std::size_t d = 0; d < kDims; ++d) {
        g.lo[d] = std::min(g.lo[d], p.x[d]);
        g.hi[d] = std::max(g.hi[d], p.x[d]);
    }
    float far[kParts] = {};
    for (std::size_t d = 0; d < kDims; ++d) {
        far[partOf(d)] += (p.x[d] - g.centre[d]) * (p.x[d] - g.centre[d]);
    }
    for (std::size_t part = 0; part < kParts; ++part) {
        g.radius[part] = std::max(g.radius[part], std::sqrt(far[part]));
        g.rest[part] = std::max(g.rest[part], p.rest[part]);
    }
    g.constant |= p.constant;
    ++g.members;
}

std::vector<Group> groupsOf(const std::vector<Point>& points, std::size_t k) {
    const std::vector<Values> centres = centresOf(points, k);
    std::vector<Group> groups(k);
    for (std::size_t c = 0; c < k; ++c) {
        groups[c].centre = centres[c];
    }
    for (Point p : points) {
        const std::size_t c = nearest(p.x, centres);
        join(groups[c], p);
    }
    return groups;
}

float score(const float (&dots)[kParts], const float (&rests)[kParts], unsigned constant) {
    float sum = 0.0f;
    for (std::size_t part = 0; part < kParts; ++part) {
        const float c = (constant >> part) & 1u ? 1.0f : std::min(1.0f, dots[part] + rests[part] + 1.2e-3f);
        sum += kWeights[part] * c * c;
    }
    return std::sqrt(sum);
}

float pairBound(const Point& q, const Point& v) {
    float dots[kParts] = {};
    for (std::size_t d = 0; d < kDims; ++d) {
        dots[partOf(d)] += q.x[d] * v.x[d];
    }
    float rests[kParts];
    for (std::size_t part = 0; part < kParts; ++part) {
        dots[part] = std::fabs(dots[part]);
        rests[part] = q.rest[part] * v.rest[part];
    }
    return score(dots, rests, q.constant | v.constant);
}

float groupBound(const Point& q, const Group& g) {
    float up[kParts] = {};
    float down[kParts] = {};
    float atCentre[kParts] = {};
    float length[kParts] = {};
    for (std::size_t d = 0; d < kDims; ++d) {
        const std::size_t part = partOf(d);
        up[part] += std::max(q.x[d] * g.lo[d], q.x[d] * g.hi[d]);
        down[part] += std::max(-q.x[d] * g.lo[d], -q.x[d] * g.hi[d]);
        atCentre[part] += q.x[d] * g.centre[d];
        length[part] += q.x[d] * q.x[d];
    }
    float dots[kParts];
    float rests[kParts];
    for (std::size_t part = 0; part < kParts; ++part) {
        const float ball = std::fabs(atCentre[part]) + std::sqrt(length[part]) * g.radius[part];
        dots[part] = std::min(std::max(up[part], down[part]), ball);
        rests[part] = q.rest[part] * g.rest[part];
    }
    return score(dots, rests, q.constant | g.constant);
}

} // namespace

void printContentGroupPasses(const std::vector<analysis::TrackRecord>& records) {
    const std::vector<Point> points = pointsOf(records);
    const std::size_t n = points.size();
    std::mt19937 rng(9);
    std::vector<std::size_t> queries(200);
    for (std::size_t& q : queries) {
        q = rng() % n;
    }
    const auto share = [&](std::size_t count, std::size_t of) {
        return static_cast<double>(count) / static_cast<double>(queries.size() * of);
    };
    for (const float floor : {0.5f, 0.75f, 0.95f}) {
        std::size_t passed = 0;
        for (const std::size_t q : queries) {
            for (const Point& p : points) {
                passed += pairBound(points[q], p) >= floor ? 1 : 0;
            }
        }
        std::printf("%zu tracks, floor %.2f: pairs whose own bound passes %.4f\n", n, floor,
                    share(passed, n));
    }
    for (const std::size_t k : {64, 256, 1024}) {
        for (const bool signless : {false, true}) {
            gSignless = signless;
            const std::vector<Group> groups = groupsOf(points, k);
            for (const float floor : {0.5f, 0.75f, 0.95f}) {
                std::size_t passed = 0;
                std::size_t tracks = 0;
                for (const std::size_t q : queries) {
                    for (const Group& g : groups) {
                        const bool pass = g.members > 0 && groupBound(points[q], g) >= floor;
                        passed += pass ? 1 : 0;
                        tracks += pass ? g.members : 0;
                    }
                }
                std::printf("  %4zu groups%s, floor %.2f: groups passing %.4f, tracks in them %.4f\n", k,
                            signless ? " (parts turned to their centre)" : "", floor, share(passed, k),
                            share(tracks, n));
            }
        }
    }
}

namespace {

void printReads(const std::vector<analysis::TrackRecord>& records, std::size_t learnAt,
                engine::ContentPrefilter::Boxes boxes, const char* name) {
    std::vector<analysis::ContentKey> keys(records.size());
    std::vector<analysis::ContentSketch> sketches(records.size());
    engine::ContentPrefilter prefilter;
    prefilter.clear(learnAt, boxes);
    std::uint64_t earlier = 0;
    std::uint64_t named = 0;
    double seconds = 0.0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        analysis::makeContentKey(records[i], keys[i]);
        analysis::makeContentSketch(keys[i], sketches[i]);
        prefilter.add({keys.data(), i + 1}, {sketches.data(), i + 1});
        if (prefilter.ready()) {
            const auto start = std::chrono::steady_clock::now();
            prefilter.query(i, 0.75f, i, [&](std::uint32_t) { ++named; });
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            earlier += i;
        }
    }
    const engine::ContentPrefilter::Reads reads = prefilter.reads();
    const double queries = static_cast<double>(std::max<std::uint64_t>(reads.queries, 1));
    std::printf("%zu tracks, %zu groups, boxes %s, floor 0.75: %.0f tracks read a query (%.4f of the earlier "
                "ones), %.1f boxes bounded, %.1f named; %.3f s in the queries (%.2f ns an earlier track)\n",
                records.size(), prefilter.groups(), name, static_cast<double>(reads.tracks) / queries,
                static_cast<double>(reads.tracks) / static_cast<double>(std::max<std::uint64_t>(earlier, 1)),
                static_cast<double>(reads.groups) / queries, static_cast<double>(named) / queries, seconds,
                seconds * 1e9 / static_cast<double>(std::max<std::uint64_t>(earlier, 1)));
    std::fflush(stdout);
}

} // namespace

void printPrefilterReads(const std::vector<analysis::TrackRecord>& records, std::size_t learnAt) {
    using Boxes = engine::ContentPrefilter::Boxes;
    printReads(records, learnAt, Boxes::WhereTheyPay, "where they pay");
    printReads(records, learnAt, Boxes::Always, "always");
    printReads(records, learnAt, Boxes::Never, "never");
}

} // namespace tonemirror::bench
