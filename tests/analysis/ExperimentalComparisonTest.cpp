#include "analysis/ExperimentalComparison.h"
#include "analysis/CComparer.h"
#include "analysis/ExcerptReader.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>

namespace tonemirror::analysis {
namespace {

using fakes::FloatStream;
using fakes::Signal;
using fakes::SignalMap;

constexpr std::size_t kSecond = 22050;

TEST(Experimental, BandEdgesAreLogarithmicAndCoverTheSpectrum) {
    const auto& e = bandEdges();
    EXPECT_EQ(e.front(), 0u);
    EXPECT_EQ(e.back(), kBandFftSize / 2 + 1); // the last band ends with the Nyquist bin
    for (std::size_t b = 1; b < kBandCount; ++b) {
        const double exact = std::exp(static_cast<double>(b) * std::log(32768.0) / 25.0);
        EXPECT_GT(e[b], e[b - 1]) << b;
        EXPECT_LE(e[b], exact + 1e-3) << b;
        EXPECT_GT(e[b], exact - 1.0) << b;
    }
    EXPECT_EQ(e[15], 511u); // single-precision rounding lands just below 512
}

TEST(Experimental, ProbePositions) {
    // Trimmed curves of 1450 values and band rows of 58 inner seconds.
    EXPECT_EQ(probeStart(1450, 375, 0), 175);
    EXPECT_EQ(probeStart(1450, 375, 1), 537);
    EXPECT_EQ(probeStart(1450, 375, 2), 900);
    EXPECT_EQ(probeStart(58, 15, 0), 7);
    EXPECT_EQ(probeStart(58, 15, 1), 21);
    EXPECT_EQ(probeStart(58, 15, 2), 36);
    // A probe longer than half the series does not fit in a half.
    EXPECT_EQ(probeStart(400, 375, 0), -1);
    EXPECT_EQ(probeStart(400, 375, 1), 12);
    EXPECT_EQ(probeStart(400, 375, 2), -1);
}

TEST(Experimental, LevelChangeCurveFollowsRisesAndFalls) {
    // 2 s of silence, 2 s of noise, 2 s of silence.
    std::vector<float> x(6 * kSecond, 0.0f);
    const Signal loud = fakes::noise(2 * kSecond, 0.5, 1);
    for (std::size_t i = 0; i < loud.size(); ++i) {
        x[2 * kSecond + i] = static_cast<float>(loud[i]) / 32768.0f;
    }
    std::vector<float> curve;
    ASSERT_EQ(levelChangeCurve(x.data(), x.size(), kLevelWindow, kCurveGroup, 0.2f, curve), S_OK);
    ASSERT_EQ(curve.size(), x.size() / kCurveGroup);
    // Silence far from any change is steady; the rise and the fall stand out with their signs.
    EXPECT_EQ(curve[10], 0.0f);
    EXPECT_EQ(curve[140], 0.0f);
    const auto peak = std::max_element(curve.begin(), curve.end()) - curve.begin();
    const auto dip = std::min_element(curve.begin(), curve.end()) - curve.begin();
    EXPECT_NEAR(static_cast<double>(peak), 2.0 * 25, 13.0);
    EXPECT_NEAR(static_cast<double>(dip), 4.0 * 25, 13.0);
    EXPECT_GT(curve[static_cast<std::size_t>(peak)], 0.5f);
    EXPECT_LT(curve[static_cast<std::size_t>(dip)], -0.5f);

    EXPECT_EQ(levelChangeCurve(x.data(), 2 * kLevelWindow - 1, kLevelWindow, kCurveGroup, 0.2f, curve),
              E_FAIL);
    EXPECT_EQ(levelChangeCurve(x.data(), x.size(), kLevelWindow, 0, 0.2f, curve), E_FAIL);
    // An all-zero stretch with a zero floor stays finite.
    std::vector<float> zeros(4 * kLevelWindow, 0.0f);
    ASSERT_EQ(levelChangeCurve(zeros.data(), zeros.size(), kLevelWindow, kCurveGroup, 0.0f, curve), S_OK);
    for (float v : curve) {
        ASSERT_EQ(v, 0.0f);
    }
}

TEST(Experimental, MatchProbesRejectsSeriesTooShortForItsProbes) {
    const std::vector<float> curve(400, 0.5f);
    const std::vector<float> bands(25 * 20, 1.0f);
    EXPECT_EQ(matchProbes(curve, curve, bands, bands, 375, 15), 0.0f);
    EXPECT_EQ(matchProbes(curve, std::vector<float>(10), bands, bands, 375, 15), 0.0f);
    EXPECT_EQ(matchProbes(curve, curve, bands, std::vector<float>(25 * 21), 375, 15), 0.0f);
}

// Two files compared through the fake decoder.
struct Pair {
    CComparer comparer;
    float score = -1.0f;
    HResult result;

    Pair(const Signal& a, const Signal& b)
        : comparer(fakes::makeSignalSource(std::make_shared<SignalMap>(SignalMap{{u"a", a}, {u"b", b}}))),
          result(comparer.compareExperimental(u"a", u"b", &score)) {}
};

Signal withLeadIn(const Signal& s, std::size_t silence) {
    Signal out(silence, 0);
    out.insert(out.end(), s.begin(), s.end());
    return out;
}

class ExperimentalScores : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        song_ = new Signal(fakes::music(70 * kSecond, 1));
        other_ = new Signal(fakes::music(70 * kSecond, 2));
    }
    static void TearDownTestSuite() {
        delete song_;
        delete other_;
    }
    static const Signal* song_;
    static const Signal* other_;
};
const Signal* ExperimentalScores::song_ = nullptr;
const Signal* ExperimentalScores::other_ = nullptr;

TEST_F(ExperimentalScores, ATrackMatchesItself) {
    Pair p(*song_, *song_);
    ASSERT_EQ(p.result, S_OK);
    EXPECT_NEAR(p.score, 1.0f, 1e-3f);
    EXPECT_LE(p.score, 1.0f);
}

TEST_F(ExperimentalScores, ExtraLeadInSilenceStillMatches) {
    Pair p(*song_, withLeadIn(*song_, 3 * kSecond));
    ASSERT_EQ(p.result, S_OK);
    EXPECT_GT(p.score, 0.9f);
}

TEST_F(ExperimentalScores, UnrelatedTracksScoreLow) {
    Pair p(*song_, *other_);
    ASSERT_EQ(p.result, S_OK);
    EXPECT_GE(p.score, 0.0f);
    EXPECT_LT(p.score, 0.4f);
}

TEST_F(ExperimentalScores, ShortOrUndecodableFilesFail) {
    const Signal short59(song_->begin(), song_->begin() + 59 * kSecond);
    Pair p(*song_, short59);
    EXPECT_EQ(p.result, E_FAIL);
    EXPECT_EQ(p.comparer.lastFailure(), AnalysisFailure::tooShort);
    float score = 5.0f;
    EXPECT_EQ(p.comparer.compareExperimental(u"a", u"missing", &score), E_FAIL);
    EXPECT_EQ(p.comparer.lastFailure(), AnalysisFailure::noDecoder);
    EXPECT_EQ(p.comparer.compareExperimental(u"missing", u"a", &score), E_FAIL);
    EXPECT_EQ(score, 0.0f);
}

TEST_F(ExperimentalScores, AStopRequestEndsTheComparison) {
    std::atomic<bool> stop{true};
    CComparer comparer(fakes::makeSignalSource(std::make_shared<SignalMap>(SignalMap{{u"a", *song_}})));
    float score = 0.0f;
    EXPECT_EQ(comparer.compareExperimental(u"a", u"a", &score, &stop), E_FAIL);
    EXPECT_EQ(comparer.lastFailure(), AnalysisFailure::stopped);
}

TEST(Experimental, LongExcerptRejectsNonFiniteSamplesAndCopesWithEmptyStreams) {
    ExcerptReader reader;
    std::vector<float> out;
    float rms = -1.0f;
    FloatStream stream;
    stream.data.assign(3 * kSecond, 0.5f);
    stream.data[kSecond] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(reader.readOpening(BlockReader(stream), kLongExcerptLength, out, &rms), E_FAIL);

    FloatStream empty;
    ASSERT_EQ(reader.readOpening(BlockReader(empty), kLongExcerptLength, out, &rms), S_OK);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(rms, 0.0f);

    FloatStream one;
    one.data = {0.25f};
    ASSERT_EQ(reader.readOpening(BlockReader(one), kLongExcerptLength, out, &rms), S_OK);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(rms, 0.0f);

    // Mean removed, limited to `limit` samples.
    FloatStream offset;
    offset.data.assign(5000, 0.75f);
    for (std::size_t i = 0; i < offset.data.size(); i += 2) {
        offset.data[i] = 0.25f;
    }
    ASSERT_EQ(reader.readOpening(BlockReader(offset), 4000, out, &rms), S_OK);
    ASSERT_EQ(out.size(), 4000u);
    EXPECT_FLOAT_EQ(out[0], -0.25f);
    EXPECT_FLOAT_EQ(rms, 0.25f);
}

TEST(Experimental, SilentFilesGiveAFiniteScore) {
    const Signal silence(61 * kSecond, 0);
    Pair p(silence, silence);
    ASSERT_EQ(p.result, S_OK);
    EXPECT_TRUE(std::isfinite(p.score));
    EXPECT_GE(p.score, 0.0f);
}

} // namespace
} // namespace tonemirror::analysis
