#include "audio/SampleConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

using namespace tonemirror;
using audio::SampleConverter;

namespace {

std::vector<std::int16_t> ramp(std::size_t frames, std::size_t channels) {
    std::vector<std::int16_t> pcm(frames * channels);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>((static_cast<int>(i * 37) % 60000) - 30000);
    }
    return pcm;
}

// Runs the converter over the stream cut into chunks of the given frame counts (cycled).
std::vector<float> convertInChunks(const StreamFormat& format, const std::vector<std::int16_t>& pcm,
                                   const std::vector<std::size_t>& chunks) {
    SampleConverter c;
    EXPECT_EQ(c.prepare(format), S_OK);
    const std::size_t channels = format.channels;
    const std::size_t frames = pcm.size() / channels;
    std::vector<float> all;
    std::vector<float> out;
    std::size_t pos = 0;
    for (std::size_t k = 0; pos < frames; ++k) {
        const std::size_t n = std::min(chunks[k % chunks.size()], frames - pos);
        EXPECT_EQ(c.convert(pcm.data() + pos * channels, static_cast<std::uint32_t>(n * channels * 2), out),
                  S_OK);
        all.insert(all.end(), out.begin(), out.end());
        pos += n;
    }
    return all;
}

float value(const std::vector<std::int16_t>& pcm, std::size_t frame, std::size_t channels) {
    if (channels == 1) {
        return static_cast<float>(pcm[frame]) / 32768.0f;
    }
    return (static_cast<float>(pcm[2 * frame]) / 32768.0f +
            static_cast<float>(pcm[2 * frame + 1]) / 32768.0f) *
           0.5f;
}

TEST(SampleConverter, Decimating44100StereoKeepsEveryEvenFrameWhateverTheChunks) {
    const auto pcm = ramp(10001, 2);
    const StreamFormat f{1, 2, 44100};
    const auto whole = convertInChunks(f, pcm, {10001});
    ASSERT_EQ(whole.size(), 5001u);
    for (std::size_t j = 0; j < whole.size(); ++j) {
        ASSERT_EQ(whole[j], value(pcm, 2 * j, 2)) << j;
    }
    for (const auto& chunks : std::vector<std::vector<std::size_t>>{{1}, {3}, {7, 1, 2}, {999}, {0, 5}}) {
        EXPECT_EQ(convertInChunks(f, pcm, chunks), whole);
    }
}

TEST(SampleConverter, Decimating88200MonoKeepsEveryFourthFrame) {
    const auto pcm = ramp(4003, 1);
    const auto out = convertInChunks({1, 1, 88200}, pcm, {5, 3});
    ASSERT_EQ(out.size(), 1001u);
    for (std::size_t j = 0; j < out.size(); ++j) {
        ASSERT_EQ(out[j], value(pcm, 4 * j, 1));
    }
}

TEST(SampleConverter, NativeRatePassesThroughScaled) {
    const std::vector<std::int16_t> pcm = {0, 1, -1, 32767, -32768, 16384};
    const auto out = convertInChunks({1, 1, 22050}, pcm, {4, 1});
    ASSERT_EQ(out.size(), pcm.size());
    EXPECT_EQ(out[3], 32767.0f / 32768.0f);
    EXPECT_EQ(out[4], -1.0f);
    EXPECT_EQ(out[5], 0.5f);
}

// Literal model of the interpolation: output j at input position j * ratio.
std::vector<float> interpolated(const std::vector<std::int16_t>& pcm, std::size_t channels,
                                std::uint32_t rate) {
    const float r = static_cast<float>(rate) / 22050.0f;
    const std::size_t frames = pcm.size() / channels;
    std::vector<float> out;
    for (std::uint32_t j = 0;; ++j) {
        const float p = static_cast<float>(j) * r;
        const auto b = static_cast<std::size_t>(p);
        if (b + 1 >= frames) {
            break;
        }
        const float f = p - static_cast<float>(b);
        out.push_back(value(pcm, b, channels) * (1.0f - f) + value(pcm, b + 1, channels) * f);
    }
    return out;
}

class Interpolating : public ::testing::TestWithParam<std::tuple<std::uint32_t, std::uint16_t>> {};

TEST_P(Interpolating, MatchesLinearInterpolationAcrossChunkBorders) {
    const auto [rate, channels] = GetParam();
    const auto pcm = ramp(6007, channels);
    const StreamFormat f{1, channels, rate};
    const auto expected = interpolated(pcm, channels, rate);
    for (const auto& chunks : std::vector<std::vector<std::size_t>>{{6007}, {1}, {2, 3}, {17}, {1000, 1}}) {
        // Bit-identical: the blend across a border uses the same two products as inside a chunk.
        EXPECT_EQ(convertInChunks(f, pcm, chunks), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, Interpolating,
    ::testing::Values(std::make_tuple(48000u, std::uint16_t{1}), std::make_tuple(48000u, std::uint16_t{2}),
                      std::make_tuple(32000u, std::uint16_t{2}), std::make_tuple(11025u, std::uint16_t{1}),
                      std::make_tuple(8000u, std::uint16_t{2})),
    [](const auto& p) {
        return std::to_string(std::get<0>(p.param)) + (std::get<1>(p.param) == 1 ? "HzMono" : "HzStereo");
    });

TEST(SampleConverter, LowRatesYieldMoreSamplesThanFrames) {
    const auto pcm = ramp(11025, 1);
    SampleConverter c;
    ASSERT_EQ(c.prepare({1, 1, 11025}), S_OK);
    EXPECT_EQ(c.kind(), SampleConverter::Kind::InterpolateMono);
    const auto out = convertInChunks({1, 1, 11025}, pcm, {100});
    EXPECT_NEAR(static_cast<double>(out.size()), 22050.0, 3.0);
}

TEST(SampleConverter, BorderSampleBlendsLastFrameOfOneChunkWithFirstOfNext) {
    // At 48000 Hz output 1 lies at 2.1768...: between frames 2 and 3. Cut the chunk right after frame 2.
    const std::vector<std::int16_t> pcm = {0, 0, 1000, 2000, 0, 0, 0, 0};
    SampleConverter c;
    ASSERT_EQ(c.prepare({1, 1, 48000}), S_OK);
    std::vector<float> out;
    ASSERT_EQ(c.convert(pcm.data(), 3 * 2, out), S_OK);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(c.convert(pcm.data() + 3, 5 * 2, out), S_OK);
    ASSERT_GE(out.size(), 1u);
    const float p = 1.0f * (48000.0f / 22050.0f);
    const float f = p - 2.0f;
    EXPECT_FLOAT_EQ(out[0], (2000.0f / 32768.0f) * f + (1.0f - f) * (1000.0f / 32768.0f));
}

TEST(SampleConverter, RefusesWhatItCannotConvert) {
    SampleConverter c;
    std::vector<float> out;
    const std::int16_t pcm[4] = {};
    EXPECT_EQ(c.convert(pcm, sizeof pcm, out), E_FAIL) << "unprepared";
    EXPECT_EQ(c.prepare({1, 2, 0}), E_INVALIDARG);
    EXPECT_EQ(c.prepare({1, 3, 44100}), E_NOTIMPL);
    EXPECT_EQ(c.prepare({1, 0, 44100}), E_NOTIMPL);
    EXPECT_EQ(c.prepare({3, 2, 44100}), E_NOTIMPL);
    EXPECT_EQ(c.kind(), SampleConverter::Kind::None);
    EXPECT_EQ(c.convert(pcm, sizeof pcm, out), E_FAIL);
}

TEST(SampleConverter, PartialFramesAndEmptyChunksAreIgnored) {
    SampleConverter c;
    ASSERT_EQ(c.prepare({1, 2, 22050}), S_OK);
    std::vector<float> out = {1.0f};
    const std::int16_t pcm[3] = {100, 300, 5};
    ASSERT_EQ(c.convert(pcm, 0, out), S_OK);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(c.convert(pcm, 6, out), S_OK) << "one whole frame and a stray sample";
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FLOAT_EQ(out[0], (100.0f + 300.0f) / 2.0f / 32768.0f);
}

} // namespace

namespace {

TEST(SampleConverter, RefusesAbsurdlyLowRates) {
    SampleConverter c;
    EXPECT_EQ(c.prepare({1, 1, 1}), E_INVALIDARG) << "1 Hz would make 22050 samples of every frame";
    EXPECT_EQ(c.prepare({1, 1, SampleConverter::kMinRate - 1}), E_INVALIDARG);
    EXPECT_EQ(c.prepare({1, 1, SampleConverter::kMinRate}), S_OK);
    EXPECT_EQ(c.prepare({1, 2, 8000}), S_OK);
}

TEST(SampleConverter, LongStreamsStayExactPastWhereFloatsRunOut) {
    // A saw tooth of 64 frames at 48 kHz: interpolated values tell the position to 1/64 of a frame.
    constexpr std::size_t kFrames = 10'000'000; // 4.6 million samples out, past the float range
    const auto value = [](std::uint64_t i) {
        return static_cast<std::int16_t>(static_cast<int>(i % 64) * 512 - 16384);
    };
    SampleConverter c;
    ASSERT_EQ(c.prepare({1, 1, 48000}), S_OK);
    std::vector<std::int16_t> chunk(4099);
    std::vector<float> out;
    std::uint64_t frame = 0;
    std::uint64_t sample = 0;
    const double ratio = static_cast<double>(48000.0f / 22050.0f);
    int checked = 0;
    while (frame < kFrames) {
        for (auto& v : chunk) {
            v = value(frame++);
        }
        ASSERT_EQ(c.convert(chunk.data(), static_cast<std::uint32_t>(chunk.size() * 2), out), S_OK);
        for (const float got : out) {
            const double p = static_cast<double>(sample++) * ratio;
            const double inTooth = std::fmod(p, 64.0);
            if (sample > 4'200'000 && inTooth < 62.5) { // away from the drop of each tooth
                ASSERT_NEAR(got, (inTooth * 512 - 16384) / 32768.0, 2e-4) << "sample " << sample - 1;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 300000);
}

} // namespace
