// The compresscodec plug-in as the program meets it: loaded from the program's folder by the plug-in
// list and read through AudioSource, on WAV and MPEG files made by the ffmpeg tool.
#include "audio/AudioSource.h"
#include "audio/PluginList.h"
#include "compresscodec/TestFiles.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace tonemirror;
using namespace testfiles;

namespace {

class CompressCodecPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        plugins_ = new audio::PluginList;
        ASSERT_EQ(plugins_->loadAll(os::programFolder()), S_OK);
    }
    static void TearDownTestSuite() {
        delete plugins_;
        plugins_ = nullptr;
    }

    static GetInterfaceFn entry() {
        for (const auto& e : plugins_->entries()) {
            if (e.name() == "compresscodec") {
                return e.getInterface;
            }
        }
        return nullptr;
    }

    // An AudioSource holding only this plug-in's decoder (the other plug-in ranks higher when present).
    static std::unique_ptr<audio::AudioSource> source() {
        void* object = nullptr;
        if (entry() == nullptr || failed(entry()(kIidDecoder, &object))) {
            return nullptr;
        }
        std::vector<audio::AudioSource::Decoder> decoders;
        decoders.push_back({static_cast<IDecoder*>(object), "compresscodec"});
        return std::make_unique<audio::AudioSource>(std::move(decoders));
    }

    static std::vector<float> readAll(audio::AudioSource& s, HResult* last = nullptr) {
        std::vector<float> all;
        for (;;) {
            const float* samples = nullptr;
            std::uint32_t count = 0;
            const HResult r = s.read(&samples, &count);
            if (failed(r)) {
                if (last != nullptr) {
                    *last = r;
                }
                return all;
            }
            all.insert(all.end(), samples, samples + count);
        }
    }

    std::u16string path(const std::string& name) const { return os::fromNativePath(folder_.path() / name); }

    static audio::PluginList* plugins_;
    TempFolder folder_;
};

audio::PluginList* CompressCodecPlugin::plugins_ = nullptr;

// Zero crossings per second of the signal, a robust frequency estimate for a clean sine.
double crossingRate(const std::vector<float>& x, double rate) {
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if ((x[i - 1] < 0.0f) != (x[i] < 0.0f)) {
            ++crossings;
        }
    }
    return static_cast<double>(crossings) / 2.0 / (static_cast<double>(x.size()) / rate);
}

// Power of the signal at one frequency (Goertzel), normalised by length.
double powerAt(const std::vector<float>& x, double frequency, double rate) {
    const double w = 2.0 * std::numbers::pi * frequency / rate;
    double s1 = 0, s2 = 0;
    for (float v : x) {
        const double s = v + 2.0 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return (s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2) / static_cast<double>(x.size() * x.size());
}

} // namespace

TEST_F(CompressCodecPlugin, GetInterfaceAnswers) {
    const GetInterfaceFn get = entry();
    ASSERT_NE(get, nullptr) << "compresscodec.so not found in " << os::programFolder();
    EXPECT_EQ(get(kIidDecoder, nullptr), E_INVALIDARG);
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(get(kIidTagger, &object), E_NOINTERFACE);
    EXPECT_EQ(object, reinterpret_cast<void*>(0x1));
    EXPECT_EQ(get(TmGuid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, &object), E_NOINTERFACE);
    ASSERT_EQ(get(kIidDecoder, &object), S_OK);
    auto* decoder = static_cast<IDecoder*>(object);
    EXPECT_EQ(decoder->vtbl->GetPriority(decoder), 99);
    StreamFormat format{};
    EXPECT_EQ(decoder->vtbl->GetFormat(decoder, &format), E_FAIL);
    EXPECT_EQ(decoder->vtbl->Open(decoder, nullptr), E_INVALIDARG);
    decoder->vtbl->Release(decoder);
}

TEST_F(CompressCodecPlugin, Wav44100StereoKeepsEverySecondFrame) {
    const auto raw = folder_.path() / "noise.raw";
    const auto wav = folder_.path() / "noise.wav";
    ASSERT_TRUE(ffmpeg("-f lavfi -i \"anoisesrc=color=pink:sample_rate=44100:amplitude=0.5:duration=2.3\" "
                       "-af \"aformat=channel_layouts=stereo\" -f s16le -c:a pcm_s16le \"" +
                       raw.string() + "\""));
    ASSERT_TRUE(ffmpeg("-f s16le -ar 44100 -ac 2 -i \"" + raw.string() + "\" -c:a pcm_s16le \"" +
                       wav.string() + "\""));
    const Bytes pcm = readFile(raw);
    ASSERT_GT(pcm.size(), 44100u * 4u * 2u);

    auto s = source();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->open(path("noise.wav")), S_OK);
    EXPECT_EQ(s->currentPluginName(), "compresscodec");
    EXPECT_EQ(s->format().channels, 2);
    EXPECT_EQ(s->format().sampleRate, 44100u);
    HResult last = S_OK;
    const std::vector<float> out = readAll(*s, &last);
    EXPECT_EQ(last, E_END_OF_STREAM);

    const std::size_t frames = pcm.size() / 4;
    ASSERT_EQ(out.size(), (frames + 1) / 2);
    for (std::size_t j = 0; j < out.size(); ++j) {
        const std::size_t at = j * 2 * 4;
        const auto left = static_cast<std::int16_t>(pcm[at] | (pcm[at + 1] << 8));
        const auto right = static_cast<std::int16_t>(pcm[at + 2] | (pcm[at + 3] << 8));
        const float expected =
            (static_cast<float>(left) / 32768.0f + static_cast<float>(right) / 32768.0f) * 0.5f;
        ASSERT_EQ(out[j], expected) << "sample " << j;
    }
}

TEST_F(CompressCodecPlugin, SineFrequencySurvives) {
    struct Case {
        const char* file;
        const char* encode;
        int rate;
        int channels;
    };
    const Case cases[] = {
        {"s48000.wav", "-c:a pcm_s16le", 48000, 2},
        {"s22050.wav", "-c:a pcm_s16le", 22050, 1},
        {"s11025.wav", "-c:a pcm_s16le", 11025, 1},
        {"s44100.mp3", "-c:a libmp3lame -b:a 128k", 44100, 2},
        {"s32000.MP3", "-c:a libmp3lame -b:a 96k -f mp3", 32000, 1},
        {"s44100.mp2", "-c:a mp2 -b:a 192k", 44100, 2},
    };
    const double seconds = 3.0;
    const double tone = 1000.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto file = folder_.path() / c.file;
        ASSERT_TRUE(ffmpeg("-f lavfi -i \"sine=frequency=1000:sample_rate=" + std::to_string(c.rate) +
                           ":duration=3\" -ac " + std::to_string(c.channels) + " " + c.encode + " \"" +
                           file.string() + "\""));
        auto s = source();
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->open(path(c.file)), S_OK);
        EXPECT_EQ(s->currentPluginName(), "compresscodec");
        EXPECT_EQ(s->format().sampleRate, static_cast<std::uint32_t>(c.rate));
        EXPECT_EQ(s->format().channels, c.channels);
        HResult last = S_OK;
        const std::vector<float> out = readAll(*s, &last);
        EXPECT_EQ(last, E_END_OF_STREAM);
        // Compressed streams add encoder delay, padding and the encoder's information frame.
        const double expected = seconds * 22050.0;
        const double slack = std::string(c.file).ends_with(".wav") ? 3.0 : 3.0 * 1152 * 22050.0 / c.rate + 10;
        EXPECT_NEAR(static_cast<double>(out.size()), expected, slack);
        EXPECT_NEAR(crossingRate(out, 22050.0), tone, tone * 0.01);
        const double on = powerAt(out, tone, 22050.0);
        EXPECT_GT(on, 100.0 * powerAt(out, tone * 1.5, 22050.0));
        EXPECT_GT(on, 100.0 * powerAt(out, tone * 0.6, 22050.0));
    }
}

TEST_F(CompressCodecPlugin, Mp3TagsAndBitRate) {
    const auto file = folder_.path() / "tagged.mp3";
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i \"sine=frequency=440:sample_rate=44100:duration=2\" -ac 2 -c:a libmp3lame "
               "-b:a 128k -id3v2_version 3 -metadata title=\"Gr\xC3\xBC\xC3\x9F"
               "e \xE2\x82\xAC\" "
               "-metadata artist=\"Plain Artist\" -metadata album=\"An Album\" \"" +
               file.string() + "\""));
    auto s = source();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->open(path("tagged.mp3")), S_OK);
    StreamInfo info{};
    ASSERT_EQ(s->getInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.title), u"Gr\u00fc\u00dfe \u20ac");
    EXPECT_EQ(std::u16string(info.artist), u"Plain Artist");
    EXPECT_EQ(std::u16string(info.album), u"An Album");
    EXPECT_EQ(info.bitRate, 128000u);
    EXPECT_NEAR(info.durationMs, 2000.0, 150.0);
}

TEST_F(CompressCodecPlugin, WmaFedWholeFailsCleanly) {
    const auto file = folder_.path() / "tone.wma";
    ASSERT_TRUE(ffmpeg(
        "-f lavfi -i \"sine=frequency=1000:sample_rate=44100:duration=3\" -ac 2 -c:a wmav2 -b:a 128k \"" +
        file.string() + "\""));
    auto s = source();
    ASSERT_NE(s, nullptr);
    const HResult opened = s->open(path("tone.wma"));
    HResult last = S_OK;
    const std::vector<float> out = succeeded(opened) ? readAll(*s, &last) : std::vector<float>{};
    // The codec is handed the container, not audio packets: nothing may come out as if it were sound.
    EXPECT_TRUE(out.empty());
    if (succeeded(opened)) {
        EXPECT_TRUE(failed(last));
        EXPECT_NE(last, E_END_OF_STREAM);
    }
}
