// The runtime stand-in itself: what the reader offers for real files, and its attribute semantics.

#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"
#include "platform/wmf/AttributeStore.h"
#include "platform/wmf/FfmpegRuntime.h"
#include "platform/wmf/TagAttributes.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tonemirror;
using namespace mediafiles;

namespace {

struct Offered {
    TmGuid major{};
    TmGuid sub{};
    wmf::WaveFormat wave{};
};

Offered offered(wmf::ISyncReader& reader, std::uint32_t output) {
    std::unique_ptr<wmf::IOutputMediaProps> props;
    EXPECT_EQ(reader.getOutputProps(output, &props), S_OK);
    Offered o;
    EXPECT_EQ(props->getType(&o.major), S_OK);
    std::uint32_t size = 0;
    EXPECT_EQ(props->getMediaType(nullptr, &size), S_OK);
    std::vector<wmf::MediaType> buffer(size / sizeof(wmf::MediaType) + 2);
    EXPECT_EQ(props->getMediaType(buffer.data(), &size), S_OK);
    o.sub = buffer[0].subType;
    if (buffer[0].formatSize >= sizeof(wmf::WaveFormat)) {
        std::memcpy(&o.wave, buffer[0].format, sizeof o.wave);
    }
    return o;
}

TEST(SyncReader, VideoAheadOfTheAudioIsAnOutputOfItsOwn) {
    TempFolder folder;
    const fs::path cover = folder / "cover.png";
    const fs::path tone = folder / "tone.wav";
    const fs::path file = folder / "clip.mka";
    ASSERT_TRUE(run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=blue:s=16x16",
                     "-frames:v", "1", cover.string()}));
    ASSERT_TRUE(makeTone(tone, {}, {1000, 32000, 6, 0.5}));
    ASSERT_TRUE(run({"ffmpeg", "-nostdin",    "-v",   "error", "-y",   "-i",         cover.string(),
                     "-i",     tone.string(), "-map", "0",     "-map", "1",          "-c:v",
                     "ffv1",   "-c:a",        "flac", "-ac",   "6",    file.string()}));
    wmf::FfmpegRuntime runtime;
    std::unique_ptr<wmf::ISyncReader> reader;
    ASSERT_EQ(runtime.createSyncReader(&reader), S_OK);
    ASSERT_EQ(reader->open(os::fromNativePath(file).c_str()), S_OK);
    std::uint32_t count = 0;
    ASSERT_EQ(reader->getOutputCount(&count), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_TRUE(sameGuid(offered(*reader, 0).major, wmf::kMediaTypeVideo));
    const Offered audio = offered(*reader, 1);
    EXPECT_TRUE(sameGuid(audio.major, wmf::kMediaTypeAudio));
    EXPECT_TRUE(sameGuid(audio.sub, wmf::kSubtypePcm));
    EXPECT_EQ(audio.wave.formatTag, wmf::kWaveFormatPcm);
    EXPECT_EQ(audio.wave.channels, 2);
    EXPECT_EQ(audio.wave.samplesPerSec, 32000u);
    EXPECT_EQ(audio.wave.bitsPerSample, 16);
    EXPECT_EQ(audio.wave.blockAlign, 4);

    // Video cannot be read as samples; the audio stream can, until no more samples are left.
    std::uint16_t videoStream = 0;
    std::uint16_t audioStream = 0;
    ASSERT_EQ(reader->getStreamNumberForOutput(0, &videoStream), S_OK);
    ASSERT_EQ(reader->getStreamNumberForOutput(1, &audioStream), S_OK);
    EXPECT_TRUE(failed(reader->setReadStreamSamples(videoStream, false)));
    const wmf::StreamSelection on = wmf::StreamSelection::On;
    ASSERT_EQ(reader->setStreamsSelected(1, &audioStream, &on), S_OK);
    ASSERT_EQ(reader->setReadStreamSamples(audioStream, false), S_OK);
    ASSERT_EQ(reader->setRange(0, 0), S_OK);
    std::unique_ptr<wmf::ISampleBuffer> sample;
    std::uint64_t bytes = 0;
    HResult r = S_OK;
    int samples = 0;
    while ((r = reader->getNextSample(audioStream, &sample, nullptr, nullptr, nullptr)) == S_OK &&
           samples < 10000) {
        const std::uint8_t* data = nullptr;
        std::uint32_t length = 0;
        ASSERT_EQ(sample->getBufferAndLength(&data, &length), S_OK);
        EXPECT_EQ(length % 4, 0u);
        bytes += length;
        ++samples;
    }
    EXPECT_EQ(r, wmf::kNoMoreSamples);
    EXPECT_EQ(reader->getNextSample(audioStream, &sample, nullptr, nullptr, nullptr), wmf::kNoMoreSamples);
    EXPECT_NEAR(static_cast<double>(bytes) / 4.0, 16000.0, 1500.0);

    // Starting over from the beginning gives the same amount again.
    ASSERT_EQ(reader->setRange(0, 0), S_OK);
    std::uint64_t again = 0;
    while (reader->getNextSample(audioStream, &sample, nullptr, nullptr, nullptr) == S_OK) {
        const std::uint8_t* data = nullptr;
        std::uint32_t length = 0;
        sample->getBufferAndLength(&data, &length);
        again += length;
    }
    EXPECT_EQ(again, bytes);
    EXPECT_EQ(reader->close(), S_OK);
}

TEST(SyncReader, OnlyTheOfferedFormatIsAccepted) {
    TempFolder folder;
    const fs::path file = folder / "tone.flac";
    ASSERT_TRUE(makeTone(file, {"-c:a", "flac"}, {1000, 44100, 2, 0.3}));
    wmf::FfmpegRuntime runtime;
    std::unique_ptr<wmf::ISyncReader> reader;
    ASSERT_EQ(runtime.createSyncReader(&reader), S_OK);
    ASSERT_EQ(reader->open(os::fromNativePath(file).c_str()), S_OK);
    std::unique_ptr<wmf::IOutputMediaProps> props;
    ASSERT_EQ(reader->getOutputProps(0, &props), S_OK);
    EXPECT_EQ(reader->setOutputProps(0, props.get()), S_OK);

    // The same description asking for another rate is refused: the reader never resamples.
    class Altered final : public wmf::IOutputMediaProps {
    public:
        explicit Altered(wmf::IOutputMediaProps& base) : base_(base) {}
        HResult getType(TmGuid* major) override { return base_.getType(major); }
        HResult getMediaType(wmf::MediaType* buffer, std::uint32_t* size) override {
            const HResult r = base_.getMediaType(buffer, size);
            if (buffer != nullptr && succeeded(r)) {
                auto* wave = reinterpret_cast<wmf::WaveFormat*>(const_cast<std::uint8_t*>(buffer->format));
                wave->samplesPerSec = 22050;
            }
            return r;
        }

    private:
        wmf::IOutputMediaProps& base_;
    } altered(*props);
    EXPECT_EQ(reader->setOutputProps(0, &altered), wmf::kInvalidOutputFormat);
    EXPECT_TRUE(failed(reader->getOutputProps(1, &props)));
}

TEST(AttributeStore, SizesTypesAndWritableNames) {
    wmf::AttributeStore store({wmf::kAttrTitle});
    store.putString(wmf::kAttrTitle, u"Hello");
    store.putQword(wmf::kAttrDuration, 0x0102030405060708ull);

    std::uint16_t stream = 0;
    wmf::AttrType type{};
    std::uint16_t length = 0;
    ASSERT_EQ(store.getAttributeByName(&stream, wmf::kAttrTitle, &type, nullptr, &length), S_OK);
    EXPECT_EQ(type, wmf::AttrType::String);
    EXPECT_EQ(length, 12); // five characters and the terminator
    std::uint8_t small[6] = {};
    length = sizeof small;
    EXPECT_EQ(store.getAttributeByName(&stream, wmf::kAttrTitle, &type, small, &length),
              wmf::kBufferTooSmall);
    EXPECT_EQ(length, 12);
    std::uint8_t number[8] = {};
    length = sizeof number;
    ASSERT_EQ(store.getAttributeByName(&stream, wmf::kAttrDuration, &type, number, &length), S_OK);
    EXPECT_EQ(type, wmf::AttrType::Qword);
    EXPECT_EQ(number[0], 0x08);
    EXPECT_EQ(number[7], 0x01);
    EXPECT_TRUE(failed(store.getAttributeByName(&stream, wmf::kAttrAlbum, &type, number, &length)));
    stream = 1;
    EXPECT_TRUE(failed(store.getAttributeByName(&stream, wmf::kAttrTitle, &type, number, &length)));

    const std::uint8_t text[] = {'A', 0, 'B', 0, 0, 0, 'C', 0}; // stops at the NUL
    EXPECT_EQ(store.setAttribute(0, wmf::kAttrTitle, wmf::AttrType::String, text, sizeof text), S_OK);
    EXPECT_EQ(store.stringValue(wmf::kAttrTitle), u"AB");
    EXPECT_EQ(store.setAttribute(0, wmf::kAttrAlbum, wmf::AttrType::String, text, sizeof text), E_NOTIMPL);
    EXPECT_EQ(store.setAttribute(0, wmf::kAttrTitle, wmf::AttrType::Dword, text, 4), E_NOTIMPL);
    EXPECT_EQ(store.setAttribute(2, wmf::kAttrTitle, wmf::AttrType::String, text, sizeof text), E_NOTIMPL);
    EXPECT_EQ(store.changedNames(), std::set<std::u16string>{wmf::kAttrTitle});
}

// The longest text fits without its terminator; a longer one is cut before a character, not inside it.
// A text the store's check refuses leaves the old one in place.
TEST(AttributeStore, LongTextsAndRefusedTexts) {
    wmf::AttributeStore store({wmf::kAttrTitle}, [](const std::u16string&, std::u16string_view text) {
        return text == u"no" ? E_NOT_A_NUMBER : S_OK;
    });
    const std::u16string longest = std::u16string(32765, u'a') + u"\U0001F600";
    store.putString(wmf::kAttrTitle, longest);
    EXPECT_EQ(store.stringValue(wmf::kAttrTitle), longest);
    store.putString(wmf::kAttrTitle, std::u16string(32766, u'a') + u"\U0001F600");
    EXPECT_EQ(store.stringValue(wmf::kAttrTitle), std::u16string(32766, u'a'));

    const std::uint8_t no[] = {'n', 0, 'o', 0};
    EXPECT_EQ(store.setAttribute(0, wmf::kAttrTitle, wmf::AttrType::String, no, sizeof no), E_NOT_A_NUMBER);
    EXPECT_EQ(store.stringValue(wmf::kAttrTitle), std::u16string(32766, u'a'));
    EXPECT_TRUE(store.changedNames().empty());
}

} // namespace
