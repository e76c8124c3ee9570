#include "analysis/SignalMath.h"
#include "support/ReferenceFft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace tonemirror::analysis {
namespace {

std::vector<float> randomValues(std::size_t n, unsigned seed, float lo = -1.0f, float hi = 1.0f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(lo, hi);
    std::vector<float> v(n);
    for (auto& x : v) {
        x = u(rng);
    }
    return v;
}

class FftSizes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FftSizes, ImpulseGivesOnesAndInverseGivesItBack) {
    const std::size_t n = GetParam();
    std::vector<float> re(n, 0.0f);
    std::vector<float> im(n, 0.0f);
    re[0] = 1.0f;
    fft(re.data(), im.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_FLOAT_EQ(re[i], 1.0f) << i;
        ASSERT_NEAR(im[i], 0.0f, 1e-6f) << i;
    }
    inverseFft(re.data(), im.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_NEAR(re[i], i == 0 ? 1.0f : 0.0f, 1e-6f) << i;
        ASSERT_NEAR(im[i], 0.0f, 1e-6f) << i;
    }
}

TEST_P(FftSizes, TableTwiddlesAreBitIdenticalToPerKTwiddles) {
    const std::size_t n = GetParam();
    std::vector<float> re = randomValues(n, 11);
    std::vector<float> im = randomValues(n, 12);
    std::vector<float> refRe = re;
    std::vector<float> refIm = im;
    fft(re.data(), im.data(), n);
    referenceFft(refRe.data(), refIm.data(), n);
    ASSERT_EQ(std::memcmp(re.data(), refRe.data(), n * sizeof(float)), 0);
    ASSERT_EQ(std::memcmp(im.data(), refIm.data(), n * sizeof(float)), 0);
}

TEST_P(FftSizes, RoundTripRestoresRandomData) {
    const std::size_t n = GetParam();
    const std::vector<float> origRe = randomValues(n, 3);
    const std::vector<float> origIm = randomValues(n, 4);
    std::vector<float> re = origRe;
    std::vector<float> im = origIm;
    fft(re.data(), im.data(), n);
    inverseFft(re.data(), im.data(), n);
    const float tolerance = 2e-6f * std::log2(static_cast<float>(n)) + 1e-6f;
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_NEAR(re[i], origRe[i], tolerance) << i;
        ASSERT_NEAR(im[i], origIm[i], tolerance) << i;
    }
}

// 131072 is past the twiddle table and takes the per-k path.
INSTANTIATE_TEST_SUITE_P(Sizes, FftSizes, ::testing::Values(2, 4, 8, 64, 1024, 2048, 65536, 131072),
                         [](const auto& p) { return "Points" + std::to_string(p.param); });

TEST(Fft, MatchesTheDefiningSumWithPositiveExponent) {
    const std::size_t n = 64;
    std::vector<float> re = randomValues(n, 5);
    std::vector<float> im = randomValues(n, 6);
    std::vector<std::complex<double>> expected(n);
    for (std::size_t m = 0; m < n; ++m) {
        for (std::size_t t = 0; t < n; ++t) {
            const double a = 2.0 * M_PI * static_cast<double>(t * m) / static_cast<double>(n);
            expected[m] += std::complex<double>(re[t], im[t]) * std::polar(1.0, a);
        }
    }
    fft(re.data(), im.data(), n);
    for (std::size_t m = 0; m < n; ++m) {
        EXPECT_NEAR(re[m], expected[m].real(), 1e-4) << m;
        EXPECT_NEAR(im[m], expected[m].imag(), 1e-4) << m;
    }
}

TEST(Correlation, SignsConstantsAndBadValues) {
    const std::vector<float> a = randomValues(1025, 1);
    std::vector<float> negated(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        negated[i] = -a[i];
    }
    EXPECT_NEAR(correlation(a.data(), a.data(), a.size()), 1.0f, 1e-6f);
    EXPECT_NEAR(correlation(a.data(), negated.data(), a.size()), -1.0f, 1e-6f);

    // 0.1 is not exact in binary: the float mean of many copies differs from the value itself, which
    // must not turn a constant array into noise.
    const std::vector<float> constant(1025, 0.1f);
    const std::vector<float> zeros(1025, 0.0f);
    EXPECT_EQ(correlation(constant.data(), a.data(), a.size()), 1.0f);
    EXPECT_EQ(correlation(a.data(), constant.data(), a.size()), 1.0f);
    EXPECT_EQ(correlation(zeros.data(), constant.data(), a.size()), 1.0f);

    std::vector<float> withNan = a;
    withNan[7] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(correlation(withNan.data(), a.data(), a.size()), 0.0f);
    std::vector<float> withInf = a;
    withInf[7] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(correlation(a.data(), withInf.data(), a.size()), 0.0f);

    const std::vector<float> b = randomValues(1025, 2);
    const float r = correlation(a.data(), b.data(), a.size());
    EXPECT_LT(std::fabs(r), 0.15f);
}

// Direct sums of the sliding correlation, for comparison.
std::vector<double> slidingSums(const std::vector<float>& x, const std::vector<float>& k) {
    const std::size_t n = x.size();
    const std::size_t m = k.size();
    std::vector<double> out(n + m - 1, 0.0);
    for (std::size_t r = 0; r < out.size(); ++r) {
        for (std::size_t i = 0; i < m; ++i) {
            const auto j = static_cast<std::ptrdiff_t>(r + i) - static_cast<std::ptrdiff_t>(m - 1);
            if (j >= 0 && j < static_cast<std::ptrdiff_t>(n)) {
                out[r] += static_cast<double>(x[static_cast<std::size_t>(j)]) * k[i];
            }
        }
    }
    return out;
}

struct Lengths {
    std::size_t n;
    std::size_t m;
};

void PrintTo(const Lengths& c, std::ostream* os) {
    *os << "Signal" << c.n << "Kernel" << c.m;
}

class FastCorrelateLengths : public ::testing::TestWithParam<Lengths> {};

TEST_P(FastCorrelateLengths, EqualsTheDirectSumsAndFindsTheLargest) {
    const auto [n, m] = GetParam();
    const std::vector<float> x = randomValues(n, 21);
    const std::vector<float> k = randomValues(m, 22);
    std::vector<float> out(n + m - 1, -99.0f);
    const std::size_t best = fastCorrelate(x.data(), n, k.data(), m, out.data());
    const std::vector<double> expected = slidingSums(x, k);
    std::size_t expectedBest = 0;
    double bestValue = 0.0;
    for (std::size_t r = 0; r < expected.size(); ++r) {
        ASSERT_NEAR(out[r], expected[r], 1e-3) << r;
        if (expected[r] > bestValue) {
            bestValue = expected[r];
            expectedBest = r;
        }
    }
    EXPECT_EQ(best, expectedBest);
    EXPECT_EQ(fastCorrelate(x.data(), n, k.data(), m, nullptr), best);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FastCorrelateLengths,
                         ::testing::Values(Lengths{1, 1}, Lengths{10, 3}, Lengths{3, 10}, Lengths{58, 15},
                                           Lengths{1450, 375}, Lengths{2000, 1}, Lengths{0, 5}),
                         [](const auto& p) {
                             return "Signal" + std::to_string(p.param.n) + "Kernel" +
                                    std::to_string(p.param.m);
                         });

TEST(NormalizedCrossCorrelation, FindsAKernelCutFromTheSignal) {
    const std::vector<float> x = randomValues(1450, 31);
    const std::size_t m = 375;
    const std::size_t start = 537;
    std::vector<float> out(x.size() + m - 1);
    const std::size_t best = normalizedCrossCorrelation(x.data(), x.size(), x.data() + start, m, out.data());
    EXPECT_EQ(best, start + m - 1);
    EXPECT_NEAR(out[start + m - 1], 1.0f, 1e-4f);
    for (float v : out) {
        ASSERT_LE(v, 1.0001f);
        ASSERT_GE(v, -1.0001f);
    }
    // A scaled and shifted copy of the signal is the same shape.
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        y[i] = 3.0f * x[i] + 0.5f;
    }
    EXPECT_EQ(normalizedCrossCorrelation(y.data(), y.size(), x.data() + start, m, nullptr), start + m - 1);
}

TEST(NormalizedCrossCorrelation, ConstantKernelOrSignalGivesZero) {
    const std::vector<float> x = randomValues(200, 41);
    const std::vector<float> flat(15, 0.25f);
    std::vector<float> out(x.size() + flat.size() - 1, 5.0f);
    EXPECT_EQ(normalizedCrossCorrelation(x.data(), x.size(), flat.data(), flat.size(), out.data()), 0u);
    for (float v : out) {
        ASSERT_EQ(v, 0.0f);
    }
    const std::vector<float> silence(200, 0.0f);
    out.assign(silence.size() + 14, 5.0f);
    normalizedCrossCorrelation(silence.data(), silence.size(), x.data(), 15, out.data());
    for (float v : out) {
        ASSERT_EQ(v, 0.0f);
    }
}

} // namespace
} // namespace tonemirror::analysis
