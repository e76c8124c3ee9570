#include "analysis/ContentComparison.h"
#include "support/RealShapedRecord.h"
#include "support/SpectrumEdit.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

namespace tonemirror::analysis {
namespace {

TrackRecord uniform(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    TrackRecord r;
    std::array<float, kComparedSpectrumBins> spectrum;
    for (auto* a : {spectrum.data(), r.levelProfile.data(), r.sectionCorrelations.data()}) {
        const std::size_t n = a == spectrum.data()         ? spectrum.size()
                              : a == r.levelProfile.data() ? r.levelProfile.size()
                                                           : r.sectionCorrelations.size();
        for (std::size_t i = 0; i < n; ++i) {
            a[i] = u(rng);
        }
    }
    r.meanSpectrum.assign(spectrum);
    return r;
}

// A record made to resemble `base`: its arrays plus noise of the given strength.
TrackRecord near(const TrackRecord& base, float strength, std::mt19937& rng) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    TrackRecord r = base;
    editSpectrum(r, [&](auto& s) {
        for (auto& v : s) {
            v += strength * g(rng) * std::fabs(v);
        }
    });
    for (auto& v : r.levelProfile) {
        v += strength * 0.05f * g(rng);
    }
    for (auto& v : r.sectionCorrelations) {
        v += strength * 0.05f * g(rng);
    }
    return r;
}

// Alternating and paired signs: exactly uncorrelated, both mean-free.
template <std::size_t N>
void alternate(std::array<float, N>& a, std::size_t period) {
    for (std::size_t i = 0; i < N; ++i) {
        a[i] = (i / period) % 2 == 0 ? 1.0f : -1.0f;
    }
}

TEST(CompareContent, WorkedExamples) {
    std::mt19937 rng(1);
    const TrackRecord base = realShapedRecord(rng);
    TrackRecord a = base;
    TrackRecord b = base;
    alternate(a.levelProfile, 1);
    alternate(b.levelProfile, 2);
    alternate(a.sectionCorrelations, 1);
    alternate(b.sectionCorrelations, 2);
    b.sectionCorrelations[8] = b.sectionCorrelations[9] = 0.0f; // mean-free again, still uncorrelated
    EXPECT_NEAR(compareContent(a, b), std::sqrt(0.6f), 1e-6f);  // cs = 1, cl = cc = 0

    TrackRecord c = a;
    TrackRecord d = a;
    // 1025 values: drop the odd one out so both stay mean-free
    editSpectrum(c, [](auto& s) {
        alternate(s, 1);
        s[1024] = 0.0f;
    });
    editSpectrum(d, [](auto& s) {
        alternate(s, 2);
        s[1024] = 0.0f;
    });
    EXPECT_NEAR(compareContent(c, d), std::sqrt(0.4f), 1e-6f); // cs = 0, cl = cc = 1

    EXPECT_EQ(compareContent(base, base), 1.0f);
}

TEST(CompareContent, AntiCorrelationCountsAsAlikeAndOrderDoesNotMatter) {
    std::mt19937 rng(2);
    const TrackRecord a = uniform(rng);
    TrackRecord negated = a;
    editSpectrum(negated, [](auto& s) {
        for (auto& v : s) {
            v = -v;
        }
    });
    for (auto& v : negated.levelProfile) {
        v = -v;
    }
    EXPECT_NEAR(compareContent(a, negated), 1.0f, 1e-6f);
    const TrackRecord b = uniform(rng);
    EXPECT_EQ(compareContent(a, b), compareContent(b, a));
    EXPECT_LT(compareContent(a, b), 0.3f);
}

TEST(CompareContent, ConstantSectionsCountAsEqual) {
    std::mt19937 rng(3);
    TrackRecord a = uniform(rng);
    TrackRecord b = a;
    a.sectionCorrelations.fill(0.7f);
    alternate(b.levelProfile, 2);
    alternate(a.levelProfile, 1);
    // cs = 1, cl = 0, cc = 1 (a has no variance).
    EXPECT_NEAR(compareContent(a, b), std::sqrt(0.8f), 1e-6f);
}

// A pool of records of every kind the fast path must agree on.
std::vector<TrackRecord> recordPool() {
    std::mt19937 rng(4);
    std::vector<TrackRecord> pool;
    for (int i = 0; i < 12; ++i) {
        pool.push_back(uniform(rng));
        pool.push_back(realShapedRecord(rng));
        pool.push_back(near(pool.back(), 0.05f, rng));
        pool.push_back(near(pool.back(), 0.5f, rng));
    }
    TrackRecord flat = realShapedRecord(rng);
    flat.levelProfile.fill(0.0f);
    flat.sectionCorrelations.fill(1.0f);
    pool.push_back(flat);
    TrackRecord tenths = realShapedRecord(rng);
    tenths.levelProfile.fill(0.1f);
    fillSpectrum(tenths, 0.3f);
    pool.push_back(tenths);
    TrackRecord broken = realShapedRecord(rng);
    editSpectrum(broken, [](auto& s) { s[17] = std::numeric_limits<float>::quiet_NaN(); });
    broken.levelProfile[3] = std::numeric_limits<float>::infinity();
    pool.push_back(broken);
    return pool;
}

TEST(ContentKey, FastScoresEqualTheDirectFormula) {
    const std::vector<TrackRecord> pool = recordPool();
    auto keys = std::make_unique<ContentKey[]>(pool.size());
    for (std::size_t i = 0; i < pool.size(); ++i) {
        makeContentKey(pool[i], keys[i]);
    }
    for (std::size_t i = 0; i < pool.size(); ++i) {
        for (std::size_t j = 0; j < pool.size(); ++j) {
            const float direct = compareContent(pool[i], pool[j]);
            const float fast = compareContent(keys[i], keys[j]);
            ASSERT_TRUE(std::isfinite(direct)) << i << ", " << j;
            ASSERT_NEAR(fast, direct, 1e-5f) << i << ", " << j;
            ASSERT_GE(fast, 0.0f);
            ASSERT_LE(fast, 1.0f);
            const float bound = contentUpperBound(keys[i], keys[j]);
            ASSERT_GE(bound, fast) << i << ", " << j;
        }
    }
}

TEST(ContentKey, UpperBoundIsNeverBelowTheScoreOnRandomPairs) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> strength(0.0f, 2.0f);
    ContentKey a{};
    ContentKey b{};
    int pruned = 0;
    for (int i = 0; i < 2000; ++i) {
        const TrackRecord x = (i % 2) != 0 ? realShapedRecord(rng) : uniform(rng);
        const TrackRecord y = (i % 3) != 0 ? near(x, strength(rng), rng) : uniform(rng);
        makeContentKey(x, a);
        makeContentKey(y, b);
        const float bound = contentUpperBound(a, b);
        ASSERT_GE(bound, compareContent(a, b)) << i;
        pruned += bound < 0.75f ? 1 : 0;
    }
    // Unrelated uniform records are told apart by the bound alone.
    EXPECT_GT(pruned, 0);
}

// The key reads the record's own values rather than a copy: the fast score and the bound keep to the
// direct formula whatever the values' offset and scale (within the range where the direct formula's
// float sums neither underflow nor overflow), near copies included.
struct ShapeCase {
    const char* name;
    float offset; // added to every spectrum and level value
    float scale;  // then every value multiplied by this
};

class KeyOnRecordValues : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(KeyOnRecordValues, FastScoreAndBoundKeepToTheDirectFormula) {
    std::mt19937 rng(17);
    const auto shaped = [&](const TrackRecord& r) {
        TrackRecord out = r;
        editSpectrum(out, [&](auto& s) {
            for (float& v : s) {
                v = (v + GetParam().offset) * GetParam().scale;
            }
        });
        for (float& v : out.levelProfile) {
            v = (v + GetParam().offset) * GetParam().scale;
        }
        return out;
    };
    for (int i = 0; i < 40; ++i) {
        const TrackRecord x = shaped(realShapedRecord(rng));
        const TrackRecord y = shaped(i % 2 == 0 ? near(x, 0.05f, rng) : realShapedRecord(rng));
        ContentKey a{};
        ContentKey b{};
        makeContentKey(x, a);
        makeContentKey(y, b);
        const float direct = compareContent(x, y);
        ASSERT_NEAR(compareContent(a, b), direct, 1e-5f) << i;
        ASSERT_GE(contentUpperBound(a, b), compareContent(a, b)) << i;
        ASSERT_GE(contentUpperBound(a, b), direct - 1e-5f) << i;
        // The key points at the record it was made from; it copies none of its values.
        EXPECT_EQ(a.spectrum.values, x.meanSpectrum.halves());
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, KeyOnRecordValues,
                         ::testing::Values(ShapeCase{"asAnalysed", 0.0f, 1.0f},
                                           ShapeCase{"largeOffset", 30.0f, 1.0f},
                                           ShapeCase{"tiny", 0.0f, 1e-3f}, ShapeCase{"huge", 0.0f, 1e6f},
                                           ShapeCase{"negative", -5.0f, -1.0f}),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace tonemirror::analysis
