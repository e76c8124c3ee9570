#include "analysis/ContentProjection.h"
#include "analysis/ByteGroupBox.h"
#include "analysis/HalfFloat.h"
#include "analysis/ProjectionBytes.h"
#include "analysis/SpectrumBasis.h"
#include "support/SongRecord.h"
#include "support/SpectrumEdit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tonemirror::analysis {
namespace {

// A copy of `base` with every value changed by a relative noise of `strength`.
TrackRecord copyOf(const TrackRecord& base, float strength, std::mt19937& rng) {
    std::normal_distribution<float> noise(0.0f, strength);
    TrackRecord r = base;
    // A draw for every bin of an analysed spectrum, so that the seeds keep their libraries.
    editSpectrum(r, [&](auto& s) {
        for (std::size_t k = 0; k < kSpectrumSize; ++k) {
            const float f = 1.0f + noise(rng);
            if (k < s.size()) {
                s[k] *= f;
            }
        }
    });
    for (float& v : r.levelProfile) {
        v *= 1.0f + noise(rng);
    }
    return r;
}

// Silence, a level without variance, broken values: arrays the content key flags or leaves at zero.
TrackRecord oddOne(const TrackRecord& base, unsigned kind) {
    TrackRecord r = base;
    switch (kind % 5) {
    case 0:
        fillSpectrum(r, 0.5f);
        break;
    case 1:
        r.levelProfile.fill(0.1f);
        break;
    case 2:
        r.sectionCorrelations.fill(1.0f);
        break;
    case 3:
        editSpectrum(r, [](auto& s) { s[7] = std::numeric_limits<float>::quiet_NaN(); });
        break;
    default:
        r.levelProfile[3] = std::numeric_limits<float>::infinity();
        fillSpectrum(r, 0.0f);
        break;
    }
    return r;
}

enum class Kind { Unrelated, NearCopies, OddArrays };
enum class Axes { FromLibrary, FromOtherSongs, FromOneSong, FromNothing };

struct BoundCase {
    const char* name;
    Kind kind;
    Axes axes;
};

std::vector<TrackRecord> library(Kind kind, std::size_t n, std::mt19937& rng) {
    std::vector<TrackRecord> records;
    while (records.size() < n) {
        const bool copy = kind != Kind::Unrelated && !records.empty() && rng() % 2 == 0;
        TrackRecord r =
            copy ? copyOf(records[rng() % records.size()], 1e-4f * static_cast<float>(1 + rng() % 300), rng)
                 : songRecord(rng);
        if (kind == Kind::OddArrays && rng() % 3 == 0) {
            r = oddOne(r, static_cast<unsigned>(rng()));
        }
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<ContentKey> keysOf(const std::vector<TrackRecord>& records) {
    std::vector<ContentKey> keys(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        makeContentKey(records[i], keys[i]);
    }
    return keys;
}
// Keys point at their records' values, which must outlive them.
std::vector<ContentKey> keysOf(std::vector<TrackRecord>&& records) = delete;

// A key's whole projection, as the prefilter makes it.
ContentProjection projectionOf(const ContentKey& key, const SpectrumBasis& basis) {
    ContentSketch sketch;
    makeContentSketch(key, sketch);
    ContentProjection p{};
    basis.project(key, p);
    projectLevelAndSections(key, sketch, p);
    return p;
}

SpectrumBasis axesFor(Axes axes, const std::vector<ContentKey>& keys, std::mt19937& rng,
                      std::size_t count = kProjectionAxes) {
    std::vector<ContentKey> others;
    std::vector<TrackRecord> otherSongs;
    switch (axes) {
    case Axes::FromLibrary:
        break;
    case Axes::FromOtherSongs:
        otherSongs = library(Kind::Unrelated, 200, rng);
        others = keysOf(otherSongs);
        break;
    case Axes::FromOneSong:
        others.assign(50, keys[0]);
        break;
    case Axes::FromNothing:
        return SpectrumBasis::learn({}, count);
    }
    const std::vector<ContentKey>& from = axes == Axes::FromLibrary ? keys : others;
    std::vector<const ContentKey*> sample;
    for (const ContentKey& k : from) {
        sample.push_back(&k);
    }
    return SpectrumBasis::learn(sample, count);
}

void expectOrthonormal(const SpectrumBasis& basis) {
    for (std::size_t a = 0; a < basis.axes(); ++a) {
        for (std::size_t b = 0; b <= a; ++b) {
            double dot = 0.0;
            for (std::size_t i = 0; i < kComparedSpectrumBins; ++i) {
                dot += basis.axis(a, i) * basis.axis(b, i);
            }
            ASSERT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-9) << "axes " << a << ", " << b;
        }
    }
}

class ProjectionBound : public ::testing::TestWithParam<BoundCase> {};

// The prefilter may only rule out pairs that cannot reach a threshold: its bound is never below the
// score of the content keys (what the scorer's later steps compare) nor of the records, whichever
// axes it projects on, and a pair passes at a floor equal to its own score.
TEST_P(ProjectionBound, NeverBelowTheContentScore) {
    const BoundCase& c = GetParam();
    std::mt19937 rng(static_cast<unsigned>(c.kind) * 10 + static_cast<unsigned>(c.axes));
    const std::vector<TrackRecord> records = library(c.kind, 120, rng);
    const std::vector<ContentKey> keys = keysOf(records);
    const SpectrumBasis basis = axesFor(c.axes, keys, rng);
    expectOrthonormal(basis);
    std::vector<ProjectionBlock> blocks((records.size() + 7) / 8);
    std::vector<ProjectionTail> tails(blocks.size());
    std::vector<ContentProjection> projections(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        projections[i] = projectionOf(keys[i], basis);
        storeLane(projections[i], blocks[i / 8], tails[i / 8], i % 8);
    }
    std::size_t ruledOut = 0;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j, ++pairs) {
            float bounds[ProjectionBlock::kLanes];
            // The query as the prefilter makes it, from the values it keeps.
            const ContentProjection query = loadLane(blocks[i / 8], tails[i / 8], i % 8);
            projectionBounds(query, blocks[j / 8], tails[j / 8], bounds);
            const float keyScore = compareContent(keys[i], keys[j]);
            ASSERT_GE(bounds[j % 8], keyScore) << i << "-" << j;
            ASSERT_GE(bounds[j % 8], compareContent(records[i], records[j])) << i << "-" << j;
            std::uint8_t mask = 0;
            projectionPassMasks(query, {&blocks[j / 8], 1}, {&tails[j / 8], 1}, keyScore, &mask);
            ASSERT_TRUE(mask & (1u << (j % 8))) << i << "-" << j << " at its own score " << keyScore;
            ruledOut += bounds[j % 8] < 0.75f ? 1 : 0;
        }
    }
    if (c.kind == Kind::Unrelated && c.axes == Axes::FromLibrary) {
        EXPECT_GT(ruledOut, pairs / 2) << "learned axes must make the bound useful, not just safe";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, ProjectionBound,
    ::testing::Values(BoundCase{"UnrelatedSongs", Kind::Unrelated, Axes::FromLibrary},
                      BoundCase{"NearCopies", Kind::NearCopies, Axes::FromLibrary},
                      BoundCase{"SilentAndBrokenArrays", Kind::OddArrays, Axes::FromLibrary},
                      BoundCase{"AxesFromOtherSongs", Kind::NearCopies, Axes::FromOtherSongs},
                      BoundCase{"AxesFromOneSong", Kind::NearCopies, Axes::FromOneSong},
                      BoundCase{"RandomAxes", Kind::OddArrays, Axes::FromNothing}),
    [](const auto& p) { return std::string(p.param.name); });

class FineBound : public ::testing::TestWithParam<BoundCase> {};

// The third stage, on twice the axes with every value a half: never below the score of the keys or of
// the records (a track with itself too), whichever axes; the kernel that reads ahead keeps a pair at
// its own score and agrees with the plain bound; and it rules out more than the first two stages.
TEST_P(FineBound, NeverBelowTheContentScore) {
    const BoundCase& c = GetParam();
    std::mt19937 rng(static_cast<unsigned>(c.kind) * 10 + static_cast<unsigned>(c.axes) + 200);
    const std::vector<TrackRecord> records = library(c.kind, 150, rng);
    const std::vector<ContentKey> keys = keysOf(records);
    const SpectrumBasis basis = axesFor(c.axes, keys, rng, kFineAxes);
    ASSERT_EQ(basis.axes(), kFineAxes);
    expectOrthonormal(basis);
    std::vector<FineProjection> fine(records.size());
    std::vector<ProjectionBlock> blocks((records.size() + 7) / 8);
    std::vector<ProjectionTail> tails(blocks.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const ContentProjection p = projectionOf(keys[i], basis);
        fine[i] = fineProjection(p);
        storeLane(p, blocks[i / 8], tails[i / 8], i % 8);
    }
    std::size_t ruledOut = 0;
    std::size_t ruledOutBefore = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const FineQuery query = fineQuery(fine[i]);
        for (std::size_t j = 0; j <= i; ++j) {
            const float bound = fineBound(query, fine[j]);
            const float keyScore = compareContent(keys[i], keys[j]);
            ASSERT_GE(bound, keyScore) << i << "-" << j;
            ASSERT_GE(bound, compareContent(records[i], records[j])) << i << "-" << j;
            const auto me = static_cast<std::uint32_t>(j);
            std::uint32_t kept[3] = {me, me, me};
            ASSERT_EQ(keepFineReaching(query, fine, {&kept[0], 1}, keyScore), 1u) << i << "-" << j;
            ASSERT_EQ(keepFineReaching(query, fine, {&kept[1], 1}, bound - 1e-4f), 1u) << i << "-" << j;
            ASSERT_EQ(keepFineReaching(query, fine, {&kept[2], 1}, bound + 1e-3f), 0u) << i << "-" << j;
            float before[ProjectionBlock::kLanes];
            projectionBounds(loadLane(blocks[i / 8], tails[i / 8], i % 8), blocks[j / 8], tails[j / 8],
                             before);
            ruledOut += bound < 0.75f ? 1 : 0;
            ruledOutBefore += before[j % 8] < 0.75f ? 1 : 0;
        }
    }
    EXPECT_GE(ruledOut, ruledOutBefore);
    if (c.axes == Axes::FromLibrary && c.kind != Kind::OddArrays) {
        EXPECT_GT(ruledOut, ruledOutBefore) << "more axes must make the bound tighter";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, FineBound,
    ::testing::Values(BoundCase{"UnrelatedSongs", Kind::Unrelated, Axes::FromLibrary},
                      BoundCase{"NearCopies", Kind::NearCopies, Axes::FromLibrary},
                      BoundCase{"SilentAndBrokenArrays", Kind::OddArrays, Axes::FromLibrary},
                      BoundCase{"AxesFromOtherSongs", Kind::NearCopies, Axes::FromOtherSongs},
                      BoundCase{"AxesFromOneSong", Kind::NearCopies, Axes::FromOneSong},
                      BoundCase{"RandomAxes", Kind::OddArrays, Axes::FromNothing}),
    [](const auto& p) { return std::string(p.param.name); });

// A list of tracks longer than the reading ahead, in any order and with repeats: the kernel keeps
// exactly the ones whose bound reaches the floor, in their order.
TEST(FineBound, KeepsExactlyTheReachingTracksInOrder) {
    std::mt19937 rng(31);
    const std::vector<TrackRecord> records = library(Kind::NearCopies, 61, rng);
    const std::vector<ContentKey> keys = keysOf(records);
    const SpectrumBasis basis = axesFor(Axes::FromLibrary, keys, rng, kFineAxes);
    std::vector<FineProjection> fine;
    for (const ContentKey& key : keys) {
        fine.push_back(fineProjection(projectionOf(key, basis)));
    }
    const FineQuery query = fineQuery(fine[60]);
    for (const float floor : {0.5f, 0.8f, 0.95f}) {
        std::vector<std::uint32_t> positions;
        for (int k = 0; k < 200; ++k) {
            positions.push_back(static_cast<std::uint32_t>(rng() % fine.size()));
        }
        std::vector<std::uint32_t> expected;
        for (const std::uint32_t p : positions) {
            if (fineBound(query, fine[p]) >= floor) {
                expected.push_back(p);
            }
        }
        positions.resize(keepFineReaching(query, fine, positions, floor));
        EXPECT_EQ(positions, expected) << floor;
        EXPECT_FALSE(expected.empty()) << floor;
    }
}

// The worst case of the halves' rounding in the third stage: every value of every part just under a
// midpoint between two halves, so that each rounds down by almost half a step, on both sides of a
// track with itself. Its correlation with itself is 1 in every part, and the bound must reach that.
TEST(FineBound, AllowsForValuesThatAllRoundDown) {
    const auto roundingDown = [](float* values, std::size_t count) {
        const float even = 1.0f / std::sqrt(static_cast<float>(count));
        // The half under `even` whose value just under the next midpoint stays under `even` too: the
        // array keeps unit length at most.
        auto h = static_cast<std::uint16_t>(toHalf(even) + 1);
        float value = even + 1.0f;
        while (value > even) {
            --h;
            value = fromHalf(h) + 0.49f * (fromHalf(static_cast<std::uint16_t>(h + 1)) - fromHalf(h));
        }
        std::fill(values, values + count, value);
        return std::sqrt(std::max(0.0f, 1.0f - static_cast<float>(count) * value * value));
    };
    ContentProjection p{};
    p.spectrumRestFine = roundingDown(p.spectrum, kFineAxes);
    p.levelRest = roundingDown(p.level, kProjectionLevelTerms);
    roundingDown(p.sections, kSectionCount);
    const FineProjection f = fineProjection(p);
    ASSERT_EQ(f.boundedParts, 0u) << "every part must be worked out, none taken as 1";
    EXPECT_GE(fineBound(fineQuery(f), f), 1.0f);
    std::uint32_t position = 0;
    EXPECT_EQ(keepFineReaching(fineQuery(f), {&f, 1}, {&position, 1}, 1.0f), 1u);
}

enum class Steps { FromLibrary, FromFirstTracks, FromNothing };

struct ByteCase {
    const char* name;
    Kind kind;
    Axes axes;
    Steps steps;
};

ByteSteps stepsFor(Steps steps, const std::vector<ContentProjection>& projections) {
    switch (steps) {
    case Steps::FromLibrary:
        return ByteSteps::learn(projections);
    case Steps::FromFirstTracks: // later values fall outside their steps' range and are clamped
        return ByteSteps::learn({projections.data(), 3});
    case Steps::FromNothing:
        break;
    }
    return ByteSteps::learn({});
}

class ByteBound : public ::testing::TestWithParam<ByteCase> {};

// A library of the case's kind with its first stage in bytes, eight tracks a block.
struct ByteLibrary {
    std::vector<TrackRecord> records;
    std::vector<ContentKey> keys; // point into the buffer of `records`, which a move keeps
    ByteSteps steps;
    std::vector<ByteBlock> blocks;
    std::vector<ProjectionTail> tails;
};

ByteLibrary byteLibrary(const ByteCase& c, std::size_t tracks, unsigned seed) {
    std::mt19937 rng(static_cast<unsigned>(c.kind) * 10 + static_cast<unsigned>(c.steps) + seed);
    ByteLibrary lib;
    lib.records = library(c.kind, tracks, rng);
    lib.keys = keysOf(lib.records);
    const SpectrumBasis basis = axesFor(c.axes, lib.keys, rng);
    std::vector<ContentProjection> projections(tracks);
    for (std::size_t i = 0; i < tracks; ++i) {
        projections[i] = projectionOf(lib.keys[i], basis);
    }
    lib.steps = stepsFor(c.steps, projections);
    lib.blocks.resize((tracks + 7) / 8);
    lib.tails.resize(lib.blocks.size());
    for (std::size_t i = 0; i < tracks; ++i) {
        storeByteLane(projections[i], lib.steps, lib.blocks[i / 8], lib.tails[i / 8], i % 8);
    }
    return lib;
}

// The same for the stage the prefilter runs on every track, with its values in bytes: never below the
// score of the keys or of the records (a track with itself too), however the steps fit the values, and
// the eight-lane kernel passes a pair at its own score and agrees with the plain one.
TEST_P(ByteBound, NeverBelowTheContentScore) {
    const ByteCase& c = GetParam();
    const ByteLibrary lib = byteLibrary(c, 120, 100);
    const auto& [records, keys, steps, blocks, tails] = lib;
    std::size_t ruledOut = 0;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const ByteQuery query = byteQuery(blocks[i / 8], tails[i / 8], i % 8, steps);
        for (std::size_t j = 0; j <= i; ++j, ++pairs) {
            float bounds[ByteBlock::kLanes];
            byteBounds(query, blocks[j / 8], tails[j / 8], bounds);
            const float bound = bounds[j % 8];
            const float keyScore = compareContent(keys[i], keys[j]);
            ASSERT_GE(bound, keyScore) << i << "-" << j;
            ASSERT_GE(bound, compareContent(records[i], records[j])) << i << "-" << j;
            std::uint8_t at[3] = {};
            bytePassMasks(query, {&blocks[j / 8], 1}, {&tails[j / 8], 1}, keyScore, &at[0]);
            bytePassMasks(query, {&blocks[j / 8], 1}, {&tails[j / 8], 1}, bound - 1e-4f, &at[1]);
            bytePassMasks(query, {&blocks[j / 8], 1}, {&tails[j / 8], 1}, bound + 1e-3f, &at[2]);
            const unsigned bit = 1u << (j % 8);
            ASSERT_TRUE(at[0] & bit) << i << "-" << j << " at its own score " << keyScore;
            ASSERT_TRUE((at[1] & bit) && !(at[2] & bit))
                << i << "-" << j << ": the kernels differ at " << bound;
            ruledOut += bound < 0.75f ? 1 : 0;
        }
    }
    if (c.kind == Kind::Unrelated && c.steps == Steps::FromLibrary) {
        EXPECT_GT(ruledOut, pairs / 2) << "bytes must keep the bound useful, not just safe";
    }
}

// Many blocks in one call, in ranges of odd sizes as a query reads its groups: every block gets the
// mask it gets alone, at floors where a few, some and nearly all blocks pass the first stage (those
// wait for their second while later blocks are read).
TEST_P(ByteBound, RangesOfManyBlocksAgreeWithBlocksAlone) {
    const ByteCase& c = GetParam();
    const ByteLibrary lib = byteLibrary(c, 200, 500);
    const auto& [records, keys, steps, blocks, tails] = lib;
    std::vector<ByteRange> ranges;
    for (std::size_t from = 0, size = 1; from < blocks.size(); from += size, size = size % 5 + 2) {
        ranges.push_back({blocks.data() + from, tails.data() + from, std::min(size, blocks.size() - from)});
    }
    for (std::size_t i = 0; i < records.size(); i += 7) {
        const ByteQuery query = byteQuery(blocks[i / 8], tails[i / 8], i % 8, steps);
        for (const float floor : {0.0f, 0.3f, 0.6f, 0.75f, 0.95f}) {
            std::vector<std::uint8_t> together(blocks.size(), 0xAA);
            bytePassMasks(query, ranges, floor, together.data());
            for (std::size_t b = 0; b < blocks.size(); ++b) {
                std::uint8_t alone = 0xAA;
                bytePassMasks(query, {&blocks[b], 1}, {&tails[b], 1}, floor, &alone);
                ASSERT_EQ(together[b], alone) << "query " << i << ", block " << b << " at " << floor;
            }
        }
    }
}

// A group's box bounds every member as the first byte stage does, queried by members and by tracks
// outside the group, whatever the group holds (copies, unrelated songs, broken arrays, values beyond
// the steps); and a group of one track is bounded about as tightly as that track alone.
TEST_P(ByteBound, GroupBoxNeverBelowItsMembers) {
    const ByteCase& c = GetParam();
    const ByteLibrary lib = byteLibrary(c, 96, 300);
    const auto& [records, keys, steps, blocks, tails] = lib;
    // Groups of one, two, eight (a block) and every track.
    for (const std::size_t size : {std::size_t{1}, std::size_t{2}, std::size_t{8}, records.size()}) {
        for (std::size_t from = 0; from < records.size(); from += size) {
            ByteGroupBox box;
            for (std::size_t j = from; j < from + size; ++j) {
                widenByteGroup(box, blocks[j / 8], j % 8);
            }
            for (std::size_t i = 0; i < records.size(); i += 3) {
                const ByteQuery query = byteQuery(blocks[i / 8], tails[i / 8], i % 8, steps);
                const float groupBound = byteGroupBound(query, box);
                float most = 0.0f;
                for (std::size_t j = from; j < from + size; ++j) {
                    float first[ByteBlock::kLanes];
                    float both[ByteBlock::kLanes];
                    byteStageBounds(query, blocks[j / 8], tails[j / 8], first, both);
                    ASSERT_GE(groupBound, first[j % 8])
                        << "query " << i << ", member " << j << " of " << size;
                    ASSERT_GE(groupBound, compareContent(keys[i], keys[j])) << i << "-" << j;
                    most = std::max(most, both[j % 8]);
                }
                ASSERT_TRUE(byteGroupReaches(query, box, most))
                    << "query " << i << ": the group of " << size << " from " << from << " at " << most;
                ASSERT_FALSE(byteGroupReaches(query, box, groupBound + 0.01f)) << i << ", " << from;
                if (size == 1) {
                    float first[ByteBlock::kLanes];
                    float both[ByteBlock::kLanes];
                    byteStageBounds(query, blocks[from / 8], tails[from / 8], first, both);
                    ASSERT_LE(groupBound, first[from % 8] + 1e-3f) << "a group of one is its member";
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, ByteBound,
    ::testing::Values(
        ByteCase{"UnrelatedSongs", Kind::Unrelated, Axes::FromLibrary, Steps::FromLibrary},
        ByteCase{"NearCopies", Kind::NearCopies, Axes::FromLibrary, Steps::FromLibrary},
        ByteCase{"SilentAndBrokenArrays", Kind::OddArrays, Axes::FromLibrary, Steps::FromLibrary},
        ByteCase{"ValuesBeyondTheSteps", Kind::NearCopies, Axes::FromLibrary, Steps::FromFirstTracks},
        ByteCase{"OddArraysBeyondTheSteps", Kind::OddArrays, Axes::FromOtherSongs, Steps::FromFirstTracks},
        ByteCase{"NoSteps", Kind::NearCopies, Axes::FromLibrary, Steps::FromNothing},
        ByteCase{"RandomAxes", Kind::OddArrays, Axes::FromNothing, Steps::FromLibrary}),
    [](const auto& p) { return std::string(p.param.name); });

// The box's largest dot products come from the vector kernel where the processor has it; the plain
// one, which runs elsewhere, must give the same integers, also at the extremes of both types, for
// boxes that span a value's whole range or a single value of it, around zero or away from it.
TEST(ByteGroupBoxKernels, VectorAndPlainAgreeOnEveryPart) {
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> byte(-128, 127);
    std::uniform_int_distribution<int> query(-32768, 32767);
    for (int round = 0; round < 2000; ++round) {
        ByteGroupBox box;
        for (std::size_t d = 0; d < kByteValues; ++d) {
            int a = byte(rng);
            int b = byte(rng);
            switch (round % 4) {
            case 0: // the whole range
                a = -128;
                b = 127;
                break;
            case 1: // one value
                b = a;
                break;
            case 2: // one side of zero
                a = std::abs(a) / 2;
                b = std::abs(b) / 2;
                break;
            default:
                break;
            }
            box.lo[d] = static_cast<std::int8_t>(std::min(a, b));
            box.hi[d] = static_cast<std::int8_t>(std::max(a, b));
        }
        box.empty = false;
        ByteQuery q{};
        for (std::size_t d = 0; d < kByteValues; ++d) {
            const int extreme = d % 2 == 0 ? -32768 : 32767;
            q.values[d] = static_cast<std::int16_t>(round % 8 == 7 ? extreme : query(rng));
        }
        std::int32_t vector[kByteParts];
        std::int32_t plain[kByteParts];
        largestByteDots(q, box, vector);
        largestByteDotsPlain(q, box, plain);
        for (std::size_t part = 0; part < kByteParts; ++part) {
            ASSERT_EQ(vector[part], plain[part]) << "round " << round << ", part " << part;
            ASSERT_GE(plain[part], 0) << "a magnitude";
        }
    }
}

// `count` values that each round down by almost half their step, the rest of a unit array beyond
// them; returns the array's correlation with itself as far as these values carry it.
double roundingDown(float* values, std::size_t count, const float* steps, float* rest) {
    double inside = 0.0;
    for (std::size_t d = 0; d < count; ++d) {
        const double k = std::floor(std::sqrt(0.8 / static_cast<double>(count)) / steps[d] - 0.49);
        values[d] = static_cast<float>((k + 0.49) * steps[d]);
        inside += static_cast<double>(values[d]) * values[d];
    }
    if (rest == nullptr) {
        return inside;
    }
    *rest = std::nextafter(static_cast<float>(std::sqrt(1.0 - inside)), 2.0f);
    return std::min(1.0, inside + static_cast<double>(*rest) * *rest);
}

// The worst case of the bytes' rounding on both sides of a pair: a track with itself, every value
// just under the midpoint between two bytes. The bound must still reach its correlation; it does only
// with both the stored track's error and the query's own.
TEST(ByteBound, AllowsForValuesThatAllRoundDown) {
    ContentProjection wide{};
    std::fill(wide.spectrum, wide.spectrum + kProjectionAxes, 1.0f);
    std::fill(wide.level, wide.level + kProjectionLevelTerms, 1.0f);
    std::fill(wide.sections, wide.sections + kSectionCount, 1.0f);
    const ByteSteps steps = ByteSteps::learn({&wide, 1}); // coarse steps: 1/127
    ContentProjection p{};
    const double cs = roundingDown(p.spectrum, kFirstStageAxes, steps.step, &p.spectrumRestFirst);
    p.spectrumRest = p.spectrumRestFirst;
    const double cl =
        roundingDown(p.level, kProjectionLevelTerms, steps.step + kFirstStageAxes, &p.levelRest);
    const double cc = roundingDown(p.sections, kSectionCount,
                                   steps.step + kFirstStageAxes + kProjectionLevelTerms, nullptr);
    ByteBlock block{};
    ProjectionTail tail{};
    storeByteLane(p, steps, block, tail, 0);
    storeByteLane(p, steps, block, tail, 5);
    ASSERT_EQ(block.boundedParts[5], 0u) << "every part must be worked out, none taken as 1";
    float bounds[ByteBlock::kLanes];
    byteBounds(byteQuery(block, tail, 0, steps), block, tail, bounds);
    const double score = std::sqrt(0.6 * cs * cs + 0.2 * cl * cl + 0.2 * cc * cc);
    EXPECT_GE(bounds[5], score);
    std::uint8_t mask = 0;
    bytePassMasks(byteQuery(block, tail, 0, steps), {&block, 1}, {&tail, 1}, static_cast<float>(score),
                  &mask);
    EXPECT_EQ(mask & 0x20u, 0x20u);
}

// A floor at or under the slack lets every track through without working anything out.
TEST(ProjectionPassMasks, FloorWithinTheSlackPassesEverything) {
    std::mt19937 rng(5);
    const std::vector<TrackRecord> records = library(Kind::Unrelated, 16, rng);
    const std::vector<ContentKey> keys = keysOf(records);
    const SpectrumBasis basis = SpectrumBasis::learn({});
    std::vector<ProjectionBlock> blocks(2);
    std::vector<ProjectionTail> tails(2);
    ContentProjection query{};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const ContentProjection p = projectionOf(keys[i], basis);
        storeLane(p, blocks[i / 8], tails[i / 8], i % 8);
        query = i == 0 ? p : query;
    }
    for (const float floor : {-1.0f, 0.0f, 1e-4f}) {
        std::uint8_t masks[2] = {};
        projectionPassMasks(query, blocks, tails, floor, masks);
        EXPECT_EQ(masks[0], 0xff) << floor;
        EXPECT_EQ(masks[1], 0xff) << floor;
    }
}

// The worst case of the halves' rounding: a spectrum spread evenly over the first axes, each value
// just under a midpoint between two halves, so that every one rounds down by almost half a step.
// Its correlation with itself is 1, and the bound must still reach that.
TEST(ProjectionBound, AllowsForValuesThatAllRoundDown) {
    const float even = 1.0f / std::sqrt(static_cast<float>(kFirstStageAxes));
    std::uint16_t h = toHalf(even);
    h = fromHalf(h) > even ? static_cast<std::uint16_t>(h - 1) : h;
    const float step = fromHalf(static_cast<std::uint16_t>(h + 1)) - fromHalf(h);
    float value = fromHalf(h) + 0.49f * step;
    value = value > even ? fromHalf(static_cast<std::uint16_t>(h - 1)) + 0.49f * step : value;
    ASSERT_EQ(fromHalf(toHalf(value)), value - 0.49f * step);
    ContentProjection p{};
    std::fill(p.spectrum, p.spectrum + kFirstStageAxes, value);
    const float inside = static_cast<float>(kFirstStageAxes) * value * value;
    p.spectrumRestFirst = p.spectrumRest = std::sqrt(1.0f - inside);
    p.level[0] = 1.0f;
    p.sections[0] = 1.0f;
    ProjectionBlock block{};
    ProjectionTail tail{};
    storeLane(p, block, tail, 0);
    storeLane(p, block, tail, 1);
    float bounds[ProjectionBlock::kLanes];
    projectionBounds(loadLane(block, tail, 0), block, tail, bounds);
    EXPECT_GE(bounds[1], 1.0f);
    std::uint8_t mask = 0;
    projectionPassMasks(loadLane(block, tail, 0), {&block, 1}, {&tail, 1}, 1.0f, &mask);
    EXPECT_EQ(mask & 2u, 2u);
}

// The first stage keeps its values as halves; the bound's allowance for their rounding rests on
// these errors, and the rests must never shrink.
TEST(HalfFloat, RoundsToTheNearestHalfWithinItsErrorAndRestsUpward) {
    for (std::uint32_t h = 0; h < 0x10000; ++h) {
        if (((h >> 10) & 0x1f) == 0x1f || h == 0x8000) {
            continue; // infinities and NaNs are never stored; -0 comes back as +0's twin
        }
        ASSERT_EQ(toHalf(fromHalf(static_cast<std::uint16_t>(h))), h) << std::hex << h;
    }
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 200000; ++i) {
        const float x = std::ldexp(u(rng), -static_cast<int>(rng() % 30));
        const std::uint16_t h = toHalf(x);
        const float error = std::fabs(fromHalf(h) - x);
        ASSERT_LE(error, std::max(std::ldexp(std::fabs(x), -11), 0x1p-25f)) << x;
        // No other half is nearer (its neighbours are one step away on either side).
        for (const int step : {-1, 1}) {
            const auto other = static_cast<std::uint16_t>(h + step);
            if ((other & 0x7fffu) < 0x7c00u && (other & 0x8000u) == (h & 0x8000u)) {
                ASSERT_GE(std::fabs(fromHalf(other) - x), error) << x;
            }
        }
        const float length = std::fabs(x);
        ASSERT_GE(fromHalf(toHalfUp(length)), length) << length;
        ASSERT_LE(fromHalf(toHalfUp(length)) - length, std::max(std::ldexp(length, -10), 0x1p-24f)) << length;
    }
}

} // namespace
} // namespace tonemirror::analysis
