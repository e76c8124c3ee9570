#include "analysis/HalfSpectrum.h"
#include "analysis/ContentComparison.h"
#include "analysis/HalfDot.h"
#include "analysis/HalfFloat.h"
#include "support/RealShapedRecord.h"
#include "support/SpectrumEdit.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

namespace tonemirror::analysis {
namespace {

using Floats = std::array<float, kComparedSpectrumBins>;

// A spectrum as an analysis of music makes it: a tilted envelope with peaks, and above bin 700 the
// tail a low-pass leaves, a million times quieter.
Floats music(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(0.5f, 1.5f);
    Floats s;
    for (std::size_t k = 0; k < s.size(); ++k) {
        const float x = static_cast<float>(k);
        s[k] = (x + 1.0f) / 2048.0f * 40.0f / std::pow(1.0f + x / 30.0f, 1.2f) * u(rng);
        s[k] *= k > 700 ? 1e-6f : 1.0f;
    }
    return s;
}

TrackRecord withSpectrum(const TrackRecord& base, const Floats& s) {
    TrackRecord r = base;
    r.meanSpectrum.assign(s);
    return r;
}

struct LevelCase {
    const char* name;
    float gain;
    float scoreTolerance; // a gain that is a power of two changes no rounding
};

class SpectrumLevel : public ::testing::TestWithParam<LevelCase> {};

// A loud or very quiet file keeps its spectrum's shape, its low-pass tail included (nothing overflows
// or flushes to zero), and compares with other tracks as the same music at an ordinary level does.
TEST_P(SpectrumLevel, ShapeAndScoresDoNotDependOnTheLevel) {
    std::mt19937 rng(5);
    const Floats shape = music(rng);
    Floats scaled = shape;
    for (float& v : scaled) {
        v *= GetParam().gain;
    }
    HalfSpectrum kept;
    kept.assign(scaled);
    for (std::size_t k = 0; k < scaled.size(); ++k) {
        ASSERT_NEAR(kept[k], scaled[k], std::fabs(scaled[k]) * 0x1p-11f) << "bin " << k;
    }
    const TrackRecord base = realShapedRecord(rng);
    const TrackRecord ordinary = withSpectrum(base, shape);
    const TrackRecord level = withSpectrum(base, scaled);
    Floats noisy = shape;
    std::normal_distribution<float> g(0.0f, 0.3f);
    for (float& v : noisy) {
        v *= 1.0f + g(rng);
    }
    for (const TrackRecord& other : {withSpectrum(base, noisy), realShapedRecord(rng)}) {
        EXPECT_NEAR(compareContent(level, other), compareContent(ordinary, other), GetParam().scoreTolerance);
        ContentKey a{};
        ContentKey b{};
        makeContentKey(level, a);
        makeContentKey(other, b);
        EXPECT_NEAR(compareContent(a, b), compareContent(ordinary, other), GetParam().scoreTolerance + 1e-5f);
    }
    EXPECT_GT(compareContent(level, ordinary), 0.9999f);
}

INSTANTIATE_TEST_SUITE_P(Levels, SpectrumLevel,
                         ::testing::Values(LevelCase{"ordinary", 1.0f, 0.0f},
                                           LevelCase{"quiet", 1e-30f, 5e-4f}, LevelCase{"loud", 1e30f, 5e-4f},
                                           LevelCase{"quietPowerOfTwo", 0x1p-100f, 0.0f},
                                           LevelCase{"loudPowerOfTwo", 0x1p100f, 0.0f},
                                           LevelCase{"loudest", 0x1p126f, 0.0f}),
                         [](const auto& p) { return std::string(p.param.name); });

// The cache file holds what the track table kept, as floats; a scan from the cache reads them back.
// Both scans compare the same values only if reading them back keeps every half and the power of two,
// at any level, including where the largest bin rounds up onto a power of two.
TEST(HalfSpectrum, ReadingBackWhatWasKeptChangesNothing) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < 3000; ++i) {
        const int top = -150 + static_cast<int>(rng() % 279); // up to the largest float
        const int spread = static_cast<int>(rng() % 60);
        Floats s;
        for (float& v : s) {
            v = std::ldexp(u(rng), top - static_cast<int>(rng() % (spread + 1)));
        }
        if (i % 3 == 0 && top < 128) {
            s[rng() % s.size()] = std::ldexp(1.0f - 0x1p-14f, top); // rounds to 2^top
        }
        if (i % 100 == 0) {
            s[rng() % s.size()] = std::numeric_limits<float>::max(); // over the largest half at any scale
        }
        HalfSpectrum kept;
        kept.assign(s);
        HalfSpectrum again;
        again.assign(kept.values());
        ASSERT_EQ(again, kept) << "case " << i << ", largest about 2^" << top;
        for (float v : kept.values()) {
            ASSERT_TRUE(std::isfinite(v)) << "case " << i;
        }
    }
}

struct BrokenCase {
    const char* name;
    float value;
};

class BrokenBin : public ::testing::TestWithParam<BrokenCase> {};

// A bin a decoder's garbage made NaN or infinite leaves the spectrum out of the score (the term
// counts as 0), as it did in floats; it must not become some finite magnitude, nor set the scale of
// the others.
TEST_P(BrokenBin, LeavesTheSpectrumOutOfTheScore) {
    std::mt19937 rng(11);
    const TrackRecord sound = realShapedRecord(rng);
    TrackRecord broken = sound;
    editSpectrum(broken, [](auto& s) { s[300] = GetParam().value; });
    EXPECT_FALSE(std::isfinite(broken.meanSpectrum[300]));
    EXPECT_EQ(broken.meanSpectrum[301], sound.meanSpectrum[301]);
    HalfSpectrum again;
    again.assign(broken.meanSpectrum.values());
    EXPECT_EQ(again, broken.meanSpectrum);
    // Same level profile and sections: cl = cc = 1, cs = 0.
    EXPECT_NEAR(compareContent(broken, sound), std::sqrt(0.4f), 1e-6f);
    ContentKey a{};
    ContentKey b{};
    makeContentKey(broken, a);
    makeContentKey(sound, b);
    EXPECT_NEAR(compareContent(a, b), std::sqrt(0.4f), 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(Values, BrokenBin,
                         ::testing::Values(BrokenCase{"nan", std::numeric_limits<float>::quiet_NaN()},
                                           BrokenCase{"infinity", std::numeric_limits<float>::infinity()},
                                           BrokenCase{"minusInfinity",
                                                      -std::numeric_limits<float>::infinity()}),
                         [](const auto& p) { return std::string(p.param.name); });

// The vector kernels and the plain ones must agree to the last bit: a pair list written on one
// machine is reused on another only if the halves and the scores come out the same.
TEST(HalfSpectrum, ScoresDoNotDependOnTheProcessor) {
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int round = 0; round < 200; ++round) {
        Floats s;
        for (float& v : s) {
            v = std::ldexp(u(rng), -static_cast<int>(rng() % 40));
        }
        s[rng() % s.size()] = round % 2 == 0 ? std::numeric_limits<float>::infinity() : 1e-45f;
        HalfSpectrum kept;
        kept.assign(s);
        const float unit = std::ldexp(1.0f, -kept.exponent());
        for (std::size_t k = 0; k < s.size(); ++k) {
            if (std::isfinite(s[k])) {
                ASSERT_EQ(kept.halves()[k], toHalf(s[k] * unit)) << "round " << round << ", bin " << k;
            }
        }
    }
    std::array<std::uint16_t, kComparedSpectrumBins> x;
    std::array<std::uint16_t, kComparedSpectrumBins> y;
    for (int round = 0; round < 50; ++round) {
        for (std::size_t k = 0; k < x.size(); ++k) {
            x[k] = static_cast<std::uint16_t>(rng() % 0x7c00); // finite, either sign below
            y[k] = static_cast<std::uint16_t>((rng() % 0x7c00) | (k % 3 == 0 ? 0x8000u : 0u));
        }
        const float mx = static_cast<float>(round);
        for (std::size_t count : {std::size_t{0}, std::size_t{7}, std::size_t{256}, kComparedSpectrumBins}) {
            EXPECT_EQ(
                std::bit_cast<std::uint32_t>(centredHalvesDot(x.data(), y.data(), mx, 0.5f, count)),
                std::bit_cast<std::uint32_t>(centredHalvesDotPlain(x.data(), y.data(), mx, 0.5f, count)))
                << "round " << round << ", " << count << " lanes";
        }
    }
}

} // namespace
} // namespace tonemirror::analysis
