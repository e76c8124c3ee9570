#include "analysis/HighBandProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

namespace {

using tonemirror::analysis::HighBandProbe;

constexpr std::uint32_t kRate = 44100;

// Music-like sound at 44100 Hz: many partials between 60 Hz and `topHz` (a lossy encoder's low-pass
// when below the band's top), with the 16-bit rounding a decoder leaves.
std::vector<float> partials(double topHz, double seconds, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> freq(120), phase(120), amp(120);
    for (std::size_t t = 0; t < freq.size(); ++t) {
        freq[t] = 60.0 + (topHz - 60.0) * u(rng);
        phase[t] = 2.0 * std::numbers::pi * u(rng);
        amp[t] = 0.01 * std::pow(200.0 / freq[t], 0.3);
    }
    std::vector<float> samples(static_cast<std::size_t>(kRate * seconds));
    for (std::size_t n = 0; n < samples.size(); ++n) {
        double v = 0.0;
        for (std::size_t t = 0; t < freq.size(); ++t) {
            v += amp[t] *
                 std::sin(2.0 * std::numbers::pi * freq[t] * static_cast<double>(n) / kRate + phase[t]);
        }
        samples[n] = static_cast<float>(v);
    }
    return samples;
}

// White noise through a one-pole low-pass: a dull but honest recording, falling off gently.
std::vector<float> gentleRollOff(double seconds) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    std::vector<float> samples(static_cast<std::size_t>(kRate * seconds));
    double y = 0.0;
    for (auto& s : samples) {
        y += 0.25 * (u(rng) - y);
        s = static_cast<float>(y);
    }
    return samples;
}

// Feeds the samples as 16-bit stereo in uneven chunks, as decoders deliver them.
std::optional<std::uint32_t> probe(const std::vector<float>& samples, std::uint32_t rate = kRate) {
    HighBandProbe p;
    p.start();
    std::vector<std::int16_t> pcm;
    for (const float v : samples) {
        const auto s = static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
        pcm.push_back(s);
        pcm.push_back(s);
    }
    const StreamFormat format{1, 2, rate};
    for (std::size_t at = 0; at < samples.size();) {
        const std::size_t n = std::min<std::size_t>(1153, samples.size() - at);
        p.frames(pcm.data() + 2 * at, static_cast<std::uint32_t>(n), format);
        at += n;
    }
    return p.cutoffHz();
}

TEST(HighBandProbeTest, FindsTheLowPassOfALossyEncoderAboveTheFingerprintsBand) {
    const auto cutoff = probe(partials(16000.0, 6.0, 1));
    ASSERT_TRUE(cutoff.has_value());
    EXPECT_GT(*cutoff, 15500u);
    EXPECT_LT(*cutoff, 16600u);
}

struct HonestCase {
    const char* name;
    std::vector<float> (*make)();
};

class HonestTest : public testing::TestWithParam<HonestCase> {};

// Sound that reaches the top of its band, falls off gently, or ends below the range looked at.
TEST_P(HonestTest, NoCutOff) {
    EXPECT_EQ(probe(GetParam().make()), std::optional<std::uint32_t>(0));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HonestTest,
    testing::Values(HonestCase{"FullBand", [] { return partials(21500.0, 6.0, 2); }},
                    HonestCase{"GentleRollOff", [] { return gentleRollOff(6.0); }},
                    HonestCase{"LowSine", [] { return partials(500.0, 6.0, 3); }},
                    // The top of a CD master's band: its own filter, not a lossy encoder's.
                    HonestCase{"EndsNearTheRatesTop", [] { return partials(20500.0, 6.0, 4); }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(HighBandProbeTest, TooLittleSoundGivesNoAnswer) {
    EXPECT_FALSE(probe(std::vector<float>(kRate * 6, 0.0f)).has_value()); // silence
    EXPECT_FALSE(probe(partials(16000.0, 0.5, 5)).has_value());           // a few blocks only

    HighBandProbe p; // a stream that changes its rate half way
    p.start();
    const std::vector<std::int16_t> pcm(2 * 4096 * 40, 1000);
    p.frames(pcm.data(), 4096 * 20, StreamFormat{1, 2, 44100});
    p.frames(pcm.data(), 4096 * 20, StreamFormat{1, 2, 48000});
    EXPECT_FALSE(p.cutoffHz().has_value());
}

} // namespace
