#include "analysis/ContentSketch.h"
#include "analysis/ContentComparison.h"
#include "support/SpectrumEdit.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>

using namespace tonemirror;

namespace {

enum class Shape { Noise, Smooth, Peaky, Constant, Related };

void fill(analysis::TrackRecord& r, std::mt19937& rng, Shape shape, const analysis::TrackRecord* base) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const float f0 = 3.0f + 60.0f * u(rng);
    const float tilt = 0.5f + 1.5f * u(rng);
    std::array<float, analysis::kComparedSpectrumBins> spectrum;
    const std::array<float, analysis::kComparedSpectrumBins> related =
        base != nullptr ? base->meanSpectrum.values() : spectrum;
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        const float x = static_cast<float>(k);
        switch (shape) {
        case Shape::Noise:
            spectrum[k] = u(rng);
            break;
        case Shape::Smooth:
            spectrum[k] = (x + 1.0f) / std::pow(1.0f + x / 20.0f, tilt);
            break;
        case Shape::Peaky: {
            const float h = std::fmod(x, f0);
            spectrum[k] = (x + 1.0f) / std::pow(1.0f + x / 30.0f, tilt) * (1.0f + 4.0f * std::exp(-h * h));
            break;
        }
        case Shape::Constant:
            spectrum[k] = 0.25f;
            break;
        case Shape::Related:
            spectrum[k] = related[k] * (1.0f + 0.05f * g(rng));
            break;
        }
    }
    r.meanSpectrum.assign(spectrum);
    for (std::size_t i = 0; i < analysis::kLevelProfileSize; ++i) {
        r.levelProfile[i] = shape == Shape::Related ? base->levelProfile[i] + 0.01f * g(rng)
                            : shape == Shape::Constant
                                ? 0.1f
                                : 0.1f + 0.05f * std::sin(static_cast<float>(i) * u(rng)) + 0.02f * u(rng);
    }
    for (float& c : r.sectionCorrelations) {
        c = shape == Shape::Constant ? 0.9f : 0.6f + 0.4f * u(rng);
    }
}

TEST(ContentSketch, BoundIsNeverBelowTheScoreAndRulesOutUnrelatedTracks) {
    std::mt19937 rng(7);
    const Shape shapes[] = {Shape::Noise, Shape::Smooth, Shape::Peaky, Shape::Constant, Shape::Related};
    std::vector<analysis::TrackRecord> records(300);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Shape s = shapes[rng() % 5];
        fill(records[i], rng, s, i > 0 ? &records[i - 1] : &records[0]);
    }
    std::vector<analysis::ContentKey> keys(records.size());
    std::vector<analysis::ContentSketch> sketches(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        analysis::makeContentKey(records[i], keys[i]);
        analysis::makeContentSketch(keys[i], sketches[i]);
    }
    std::size_t ruledOut = 0;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j, ++pairs) {
            const float exact = analysis::compareContent(records[i], records[j]);
            const float bound = analysis::contentSketchBound(sketches[i], sketches[j]);
            ASSERT_GE(bound, exact) << i << "," << j;
            ASSERT_GE(bound, analysis::compareContent(keys[i], keys[j]));
            ruledOut += bound < 0.75f ? 1 : 0;
        }
    }
    EXPECT_GT(ruledOut, pairs / 4) << "the bound must be useful, not just safe";
}

TEST(ContentSketch, NonFiniteFingerprintsNeverLookAlike) {
    analysis::TrackRecord a;
    analysis::TrackRecord b;
    std::mt19937 rng(3);
    fill(a, rng, Shape::Peaky, nullptr);
    b = a;
    analysis::editSpectrum(b, [](auto& s) { s[5] = std::numeric_limits<float>::quiet_NaN(); });
    b.levelProfile[3] = std::numeric_limits<float>::infinity();
    analysis::ContentKey ka;
    analysis::ContentKey kb;
    analysis::makeContentKey(a, ka);
    analysis::makeContentKey(b, kb);
    analysis::ContentSketch sa;
    analysis::ContentSketch sb;
    analysis::makeContentSketch(ka, sa);
    analysis::makeContentSketch(kb, sb);
    const float bound = analysis::contentSketchBound(sa, sb);
    EXPECT_TRUE(std::isfinite(bound));
    EXPECT_GE(bound, analysis::compareContent(a, b));
}

} // namespace
