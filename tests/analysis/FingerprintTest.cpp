#include "analysis/CComparer.h"
#include "analysis/ExcerptReader.h"
#include "analysis/LevelProfile.h"
#include "analysis/SpectrumProfile.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace tonemirror::analysis {
namespace {

using fakes::FloatStream;
using fakes::Signal;
using fakes::SignalMap;

constexpr std::size_t kSecond = 22050;

// Reads the excerpt of one in-memory signal through a real AudioSource.
struct Extraction {
    std::unique_ptr<audio::AudioSource> source;
    ExcerptReader reader;
    HResult result;

    explicit Extraction(const Signal& signal)
        : source(fakes::makeSignalSource(std::make_shared<SignalMap>(SignalMap{{u"a.wav", signal}}))),
          result(run()) {}

    HResult run() {
        if (failed(source->open(u"a.wav"))) {
            return E_FAIL;
        }
        const HResult r = reader.read(sourceReader(*source));
        source->close();
        return r;
    }
};

Signal concat(Signal a, const Signal& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ReadExcerpt, LeadingSilenceIsCutWhereTheMusicStarts) {
    const Signal music = fakes::noise(40 * kSecond, 0.3, 1);
    Extraction e(concat(Signal(2 * kSecond, 0), music));
    ASSERT_EQ(e.result, S_OK);
    const auto& x = e.reader.samples();
    ASSERT_EQ(x.size(), kExcerptLength);
    for (std::size_t i = 0; i < 100; ++i) {
        ASSERT_EQ(x[i], static_cast<float>(music[i]) / 32768.0f) << i;
    }
}

TEST(ReadExcerpt, FullLevelFromTheFirstSampleKeepsEverything) {
    const Signal music = fakes::noise(35 * kSecond, 0.3, 2);
    Extraction e(music);
    ASSERT_EQ(e.result, S_OK);
    EXPECT_EQ(e.reader.samples().front(), static_cast<float>(music[0]) / 32768.0f);
}

TEST(ReadExcerpt, NoRiseStartsAtTheFirstSampleAboveATenthOfTheLevel) {
    // A slow fade-in never rises by a third of the mean level within half a second.
    Signal s(40 * kSecond);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double ramp = std::min(1.0, static_cast<double>(i) / (20.0 * kSecond));
        s[i] = fakes::toPcm(0.5 * ramp * ((i % 2) != 0 ? 1.0 : -1.0));
    }
    Extraction e(s);
    ASSERT_EQ(e.result, S_OK);
    const float first = e.reader.samples().front();
    EXPECT_GT(first, 0.0f);
    EXPECT_LT(first, 0.1f);
}

struct LengthCase {
    std::size_t samples;
    bool succeeds;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << c.samples << (c.succeeds ? "SamplesTaken" : "SamplesRefused");
}

class ExcerptLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ExcerptLength, FifteenSecondsIsTheMinimum) {
    const auto [n, ok] = GetParam();
    Extraction e(fakes::noise(n, 0.3, 3));
    EXPECT_EQ(e.result, ok ? S_OK : E_FAIL);
    EXPECT_EQ(e.reader.failure(), ok ? AnalysisFailure::none : AnalysisFailure::tooShort);
    if (ok) {
        EXPECT_EQ(e.reader.samples().size(), std::min(n, kExcerptLength));
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ExcerptLength,
                         ::testing::Values(LengthCase{0, false}, LengthCase{1, false},
                                           LengthCase{kMinimumLength - 1, false},
                                           LengthCase{kMinimumLength, true}, LengthCase{20 * kSecond, true},
                                           LengthCase{90 * kSecond, true}),
                         [](const auto& p) {
                             return std::to_string(p.param.samples) +
                                    (p.param.succeeds ? "SamplesTaken" : "SamplesRefused");
                         });

TEST(ReadExcerpt, SilentOrNegativeFilesFail) {
    Extraction silent(Signal(40 * kSecond, 0));
    EXPECT_EQ(silent.result, E_FAIL);
    EXPECT_EQ(silent.reader.failure(), AnalysisFailure::silent);
    // Only negative values fading in slowly: no rise, and no sample above a tenth of the level, so
    // everything read is cut and the rest of the file is too short.
    Signal negative(40 * kSecond);
    for (std::size_t i = 0; i < negative.size(); ++i) {
        negative[i] = fakes::toPcm(-0.5 * std::min(1.0, static_cast<double>(i) / (20.0 * kSecond)));
    }
    EXPECT_EQ(Extraction(negative).result, E_FAIL);
}

TEST(ReadExcerpt, ALongLeadInLeavesTooLittleAudio) {
    Extraction e(concat(Signal(10 * kSecond, 0), fakes::noise(10 * kSecond, 0.3, 4)));
    EXPECT_EQ(e.result, E_FAIL);
}

TEST(ReadExcerpt, NonFiniteSamplesMakeTheFileUndecodable) {
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()}) {
        for (const std::size_t at : {std::size_t{5}, std::size_t{600000}, std::size_t{700000}}) {
            FloatStream stream;
            // 2 s of silence, so that the excerpt is refilled after the cut.
            stream.data.assign(40 * kSecond, 0.0f);
            for (std::size_t i = 2 * kSecond; i < stream.data.size(); ++i) {
                stream.data[i] = (i % 2) != 0 ? 0.25f : -0.25f;
            }
            stream.data[at] = bad;
            ExcerptReader reader;
            EXPECT_EQ(reader.read(BlockReader(stream)), E_FAIL) << bad << " at " << at;
            EXPECT_EQ(reader.failure(), AnalysisFailure::badSamples);
        }
    }
}

TEST(ReadExcerpt, AnEmptyBlockEndsOnlyTheRefill) {
    // 2 s of silence, then music with an empty block at 35 s: read past it while the first 30 s are
    // read, the refill after the cut stops there.
    std::vector<float> data(40 * kSecond, 0.0f);
    for (std::size_t i = 2 * kSecond; i < data.size(); ++i) {
        data[i] = (i % 3) != 0 ? 0.25f : -0.5f;
    }
    const auto reader = [&](std::size_t emptyAt) {
        return [&data, emptyAt, pos = std::size_t{0}, gap = false](const float** samples,
                                                                   std::uint32_t* count) mutable {
            if (pos >= data.size()) {
                return E_END_OF_STREAM;
            }
            if (pos == emptyAt && !gap) {
                gap = true;
                *samples = nullptr;
                *count = 0;
                return S_OK;
            }
            *samples = data.data() + pos;
            *count = 1050;
            pos += 1050;
            return S_OK;
        };
    };
    ExcerptReader excerpt;
    ASSERT_EQ(excerpt.read(reader(10 * kSecond)), S_OK);
    EXPECT_EQ(excerpt.samples().size(), kExcerptLength);
    ASSERT_EQ(excerpt.read(reader(31 * kSecond)), S_OK);
    EXPECT_EQ(excerpt.samples().size(), 29 * kSecond);
}

struct ExtendCase {
    std::string name;
    std::size_t leadIn;  // samples of silence before the music
    std::uint32_t block; // samples per decoded block
    std::size_t length;  // samples in the stream
    std::size_t limit;   // samples asked for in all
    std::size_t badAt;   // a NaN here (beyond the stream: none)
};

class ExtendExcerpt : public ::testing::TestWithParam<ExtendCase> {};

// After the excerpt, extend goes on with the very next sample of the stream, whatever the blocks'
// edges, and stops at the limit, the stream's end or a sample that is not finite.
TEST_P(ExtendExcerpt, GoesOnWithoutAGap) {
    const ExtendCase& c = GetParam();
    const Signal music = fakes::noise(c.length - c.leadIn, 0.3, 5);
    std::vector<float> data(c.leadIn, 0.0f);
    for (const std::int16_t v : music) {
        data.push_back(static_cast<float>(v) / 32768.0f);
    }
    if (c.badAt < data.size()) {
        data[c.badAt] = std::numeric_limits<float>::quiet_NaN();
    }
    const BlockReader read = [&, pos = std::size_t{0}](const float** samples, std::uint32_t* count) mutable {
        if (pos >= data.size()) {
            return E_END_OF_STREAM;
        }
        *samples = data.data() + pos;
        *count = static_cast<std::uint32_t>(std::min<std::size_t>(c.block, data.size() - pos));
        pos += *count;
        return S_OK;
    };
    ExcerptReader excerpt;
    ASSERT_EQ(excerpt.read(read), S_OK);
    const std::vector<float> first = excerpt.samples();
    const auto start = static_cast<std::size_t>(
        std::search(data.begin(), data.end(), first.begin(), first.begin() + 1000) - data.begin());
    ASSERT_LT(start, data.size());
    excerpt.extend(read, c.limit);
    const std::vector<float>& all = excerpt.samples();
    const std::size_t end = std::min({data.size(), start + c.limit, c.badAt - c.badAt % c.block});
    ASSERT_EQ(all.size(), std::max(end - start, first.size()));
    EXPECT_TRUE(std::equal(all.begin(), all.end(), data.begin() + static_cast<std::ptrdiff_t>(start)));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ExtendExcerpt,
    ::testing::Values(ExtendCase{"BlockAcrossTheExcerptsEnd", 0, 4097, 100 * kSecond, 90 * kSecond, ~0u},
                      ExtendCase{"RefillAcrossTheExcerptsEnd", 2 * kSecond, 3001, 100 * kSecond, 90 * kSecond,
                                 ~0u},
                      ExtendCase{"StreamEndsFirst", kSecond, 1024, 50 * kSecond, 90 * kSecond, ~0u},
                      ExtendCase{"NoMoreThanTheExcerpt", 0, 1000, 40 * kSecond, kExcerptLength, ~0u},
                      ExtendCase{"StopsBeforeANaN", 0, 1000, 100 * kSecond, 90 * kSecond, 50 * kSecond + 17}),
    [](const auto& p) { return p.param.name; });

TEST(ReadExcerpt, EndlessEmptyBlocksEndTheStream) {
    std::size_t calls = 0;
    std::vector<float> block(1000, 0.5f);
    const BlockReader read = [&](const float** samples, std::uint32_t* count) {
        ++calls;
        // 20 s of audio, then empty blocks for ever.
        if (calls <= 441) {
            *samples = block.data();
            *count = 1000;
        } else {
            *samples = nullptr;
            *count = 0;
        }
        return S_OK;
    };
    ExcerptReader reader;
    EXPECT_EQ(reader.read(read), S_OK);
    EXPECT_EQ(reader.samples().size(), 441000u);
    EXPECT_LT(calls, 100000u);
}

TEST(ReadExcerpt, TheBufferIsEmptiedForEachFile) {
    const auto source = fakes::makeSignalSource(
        std::make_shared<SignalMap>(SignalMap{{u"long.wav", fakes::noise(40 * kSecond, 0.3, 5)},
                                              {u"short.wav", fakes::noise(20 * kSecond, 0.3, 6)}}));
    ExcerptReader reader;
    for (const auto* path : {u"long.wav", u"short.wav"}) {
        ASSERT_EQ(source->open(path), S_OK);
        ASSERT_EQ(reader.read(sourceReader(*source)), S_OK);
        source->close();
    }
    EXPECT_EQ(reader.samples().size(), 20 * kSecond);
}

TEST(LevelProfile, TwentySecondsFillSixtySevenSegments) {
    Extraction e(fakes::noise(20 * kSecond, 0.3, 7));
    ASSERT_EQ(e.result, S_OK);
    std::array<float, kLevelProfileSize> p{};
    LevelProfile::compute(e.reader.samples(), p);
    for (std::size_t i = 0; i <= 66; ++i) {
        EXPECT_NEAR(p[i], 0.3f / std::sqrt(3.0f), 0.01f) << i;
    }
    for (std::size_t i = 67; i < p.size(); ++i) {
        EXPECT_EQ(p[i], 0.0f) << i;
    }
}

TEST(LevelProfile, SegmentsFollowTheLevelAndConstantsGiveZero) {
    std::vector<float> x(kExcerptLength, 0.3f); // nearly constant: the variance may round below zero
    // Segment 10 (samples 66151..72765) alternates between +-0.5.
    for (std::size_t i = 66151; i <= 72765; ++i) {
        x[i] = (i % 2) != 0 ? 0.5f : -0.5f;
    }
    std::array<float, kLevelProfileSize> p{};
    LevelProfile::compute(x, p);
    for (std::size_t i = 0; i < p.size(); ++i) {
        ASSERT_TRUE(std::isfinite(p[i])) << i;
        if (i == 10) {
            EXPECT_NEAR(p[i], 0.5f, 1e-4f);
        } else {
            EXPECT_LT(p[i], 1e-3f) << i;
        }
    }
}

TEST(Spectra, ASinePeaksAtItsBinAndTheUpperHalfMirrors) {
    std::vector<float> x(kExcerptLength);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 100.0 * static_cast<double>(i) / 2048.0));
    }
    SpectrumProfile spectra;
    TrackRecord record;
    ASSERT_EQ(spectra.compute(x, record), S_OK);
    ASSERT_EQ(record.spectrumRest.size(), kSpectrumSize - kComparedSpectrumBins);
    std::array<float, kSpectrumSize> s;
    fullSpectrum(record, s);
    std::size_t peak = 0;
    for (std::size_t k = 0; k <= 1024; ++k) {
        if (s[k] > s[peak]) {
            peak = k;
        }
    }
    EXPECT_EQ(peak, 100u);
    // 0.5 * 1024 per block, tilted by 101 / 2048; the last block is shorter.
    EXPECT_NEAR(s[100], 512.0f * 101.0f / 2048.0f, 0.5f);
    for (std::size_t k = 1; k < 1024; ++k) {
        ASSERT_NEAR(s[2048 - k] / static_cast<float>(2049 - k), s[k] / static_cast<float>(k + 1),
                    1e-3f * (s[k] + 1e-3f))
            << k;
    }
    // A steady tone: every section looks like the next.
    for (float c : record.sectionCorrelations) {
        EXPECT_NEAR(c, 1.0f, 1e-3f);
    }
}

TEST(Spectra, ShortBuffers) {
    SpectrumProfile spectra;
    TrackRecord record;
    EXPECT_EQ(spectra.compute(std::vector<float>(2047, 0.5f), record), E_FAIL);
    // Two blocks leave most sections empty; nothing may turn into NaN.
    std::vector<float> x(4096);
    for (std::size_t i = 0; i < 4096; ++i) {
        x[i] = static_cast<float>(i % 7) * 0.1f;
    }
    ASSERT_EQ(spectra.compute(x, record), S_OK);
    for (float v : record.meanSpectrum.values()) {
        ASSERT_TRUE(std::isfinite(v));
    }
    for (float v : record.sectionCorrelations) {
        ASSERT_TRUE(std::isfinite(v));
    }
}

TEST(Initialize, FailsWithoutAnAudioSource) {
    CComparer comparer(nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(comparer.initialize(), E_FAIL);
    EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("CComparer::Initialize:", 0), 0u);
}

} // namespace
} // namespace tonemirror::analysis
