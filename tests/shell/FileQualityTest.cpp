#include "shell/FileQuality.h"

#include "analysis/SpectrumProfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

using tonemirror::analysis::TrackRecord;

constexpr double kRate = 22050.0;

// Three seconds of many tones with random pitch between 60 Hz and `topHz` and falling loudness, over
// a noise floor at the level of 16-bit rounding: what a lossy file decoded again looks like when
// `topHz` is its encoder's low-pass.
std::vector<float> bandLimited(double topHz, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> freq(120), phase(120), amp(120);
    for (std::size_t t = 0; t < freq.size(); ++t) {
        freq[t] = 60.0 + (topHz - 60.0) * u(rng);
        phase[t] = 2.0 * std::numbers::pi * u(rng);
        amp[t] = 0.006 * std::pow(200.0 / freq[t], 0.5);
    }
    std::vector<float> samples(static_cast<std::size_t>(kRate) * 3);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        double v = (u(rng) - 0.5) / 32768.0;
        for (std::size_t t = 0; t < freq.size(); ++t) {
            v += amp[t] *
                 std::sin(2.0 * std::numbers::pi * freq[t] * static_cast<double>(n) / kRate + phase[t]);
        }
        samples[n] = static_cast<float>(v);
    }
    return samples;
}

// White noise through a one-pole low-pass: a dull but honest recording, falling off gently.
std::vector<float> gentleRollOff(unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    std::vector<float> samples(static_cast<std::size_t>(kRate) * 10);
    double y = 0.0;
    for (auto& s : samples) {
        y += 0.25 * (u(rng) - y);
        s = static_cast<float>(y);
    }
    return samples;
}

std::uint32_t cutoffOf(const std::vector<float>& samples) {
    tonemirror::analysis::SpectrumProfile profile;
    TrackRecord record;
    EXPECT_EQ(profile.compute(samples, record), tonemirror::S_OK);
    return tonemirror::shell::spectrumCutoffHz(record);
}

TEST(FileQualityTest, LossyLowPassShowsAsASharpEnd) {
    const std::uint32_t cutoff = cutoffOf(bandLimited(7000.0, 1));
    EXPECT_GT(cutoff, 6500u);
    EXPECT_LT(cutoff, 7500u);
    EXPECT_NE(cutoffOf(bandLimited(4000.0, 2)), 0u);
}

TEST(FileQualityTest, FullBandAndGentleSpectraAreNotTranscoded) {
    EXPECT_EQ(cutoffOf(bandLimited(10900.0, 3)), 0u);
    EXPECT_EQ(cutoffOf(gentleRollOff(4)), 0u);
    EXPECT_EQ(cutoffOf(std::vector<float>(44100, 0.0f)), 0u);          // silence
    EXPECT_EQ(tonemirror::shell::spectrumCutoffHz(TrackRecord{}), 0u); // nothing stored
}

struct FormatCase {
    const char* name;
    const char* format;
    std::uint32_t bitRate;
    bool lossless;
    std::uint32_t pcmFloor = 0; // sample rate x channels x 8 when the stream told
};

class LosslessFormatTest : public testing::TestWithParam<FormatCase> {};

TEST_P(LosslessFormatTest, ByFormatAndRate) {
    EXPECT_EQ(tonemirror::shell::isLosslessFormat(GetParam().format, GetParam().bitRate, GetParam().pcmFloor),
              GetParam().lossless);
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessFormatTest,
                         testing::Values(FormatCase{"Flac", "flac", 700000, true},
                                         FormatCase{"Mp3", "mp3", 320000, false},
                                         FormatCase{"PcmWav", "wav", 1411200, true},
                                         FormatCase{"WavOfUnknownRate", "wav", 0, true},
                                         FormatCase{"MpegInWav", "wav", 128000, false},
                                         FormatCase{"MonoPcmWavAt22050", "wav", 352800, true, 176400},
                                         FormatCase{"MpegInMonoWav", "wav", 64000, false, 176400},
                                         FormatCase{"AdpcmInWav", "wav", 89300, false, 176400},
                                         FormatCase{"AlacInM4a", "m4a", 800000, true},
                                         FormatCase{"AacInM4a", "m4a", 256000, false},
                                         FormatCase{"NoExtension", "", 1411200, false}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
