// The mediacodec plug-in as the program meets it: loaded from the executable's folder, driven through
// AudioSource and TagAccess, over files made by the ffmpeg tool.

#include "audio/AudioSource.h"
#include "audio/TagAccess.h"
#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace tonemirror;
using namespace mediafiles;

namespace {

struct Format {
    const char* name;
    const char* extension;
    std::vector<std::string> encode;
    std::uint32_t rate; // what the decoder reports
};

void PrintTo(const Format& c, std::ostream* os) {
    *os << c.name;
}

const Format kFormats[] = {
    {"mp3", ".mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}, 44100},
    {"flac", ".flac", {"-c:a", "flac"}, 44100},
    {"vorbis", ".ogg", {"-c:a", "libvorbis"}, 44100},
    {"opus", ".opus", {"-c:a", "libopus"}, 48000},
    {"aac", ".m4a", {"-c:a", "aac"}, 44100},
    {"wma", ".wma", {"-c:a", "wmav2"}, 44100},
    {"wav", ".wav", {"-c:a", "pcm_s16le"}, 44100},
    {"aiff", ".aiff", {"-c:a", "pcm_s16be", "-write_id3v2", "1"}, 44100},
};

std::vector<std::string> withTitle(std::vector<std::string> args) {
    args.insert(args.end(), {"-metadata", "title=Sine Title", "-metadata", "artist=Tester", "-metadata",
                             "album=Test Album"});
    return args;
}

class Formats : public testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        file = folder / (std::string("tone") + GetParam().extension);
        ASSERT_TRUE(makeTone(file, withTitle(GetParam().encode))) << "ffmpeg could not make " << file;
    }

    TempFolder folder;
    fs::path file;
};

TEST_P(Formats, DecodedByMediacodecWithTheToneIntact) {
    audio::AudioSource source(plugins());
    const Decoded d = decodeAll(source, file);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.plugin, "mediacodec");
    EXPECT_EQ(d.format.formatTag, 1);
    EXPECT_EQ(d.format.channels, 2);
    EXPECT_EQ(d.format.sampleRate, GetParam().rate);
    EXPECT_EQ(d.end, E_END_OF_STREAM);
    // Two seconds at 22050 Hz; encoders add a little padding at either end.
    EXPECT_GE(d.samples.size(), 44100u * 97 / 100);
    EXPECT_LE(d.samples.size(), 44100u * 106 / 100);
    EXPECT_NEAR(toneFrequency(d.samples), 1000.0, 10.0);
    EXPECT_GT(peak(d.samples), 0.05f);

    ASSERT_EQ(source.open(os::fromNativePath(file)), S_OK);
    StreamInfo info{};
    ASSERT_EQ(source.getInfo(&info), S_OK);
    EXPECT_NEAR(static_cast<double>(info.durationMs), 2000.0, 80.0);
    EXPECT_GT(info.bitRate, 0u);
    EXPECT_EQ(std::u16string(info.title), u"Sine Title");
    EXPECT_EQ(std::u16string(info.artist), u"Tester");
    EXPECT_EQ(std::u16string(info.album), u"Test Album");
}

TEST_P(Formats, TagsRoundTripWithoutTouchingTheAudio) {
    audio::AudioSource source(plugins());
    const Decoded before = decodeAll(source, file);
    ASSERT_TRUE(before.opened);

    const std::array<std::u16string, 7> values = {
        u"Überschrift \u263A", u"Ärtist", u"Albüm", u"1999", u"4", u"a note", u"Ambient"};
    audio::TagAccess tags(plugins());
    const std::u16string path = os::fromNativePath(file);
    ASSERT_EQ(tags.open(path), S_OK);
    EXPECT_EQ(tags.currentPluginName(), "mediacodec");
    std::vector<char16_t> buffer(1024);
    ASSERT_EQ(tags.getTag(TagId_Title, buffer.data(), 1024), S_OK);
    EXPECT_EQ(std::u16string(buffer.data()), u"Sine Title");
    for (int id = TagId_Title; id <= TagId_Genre; ++id) {
        const auto& v = values[static_cast<std::size_t>(id - 1)];
        EXPECT_EQ(tags.setTag(id, v.c_str(), static_cast<std::int32_t>(v.size())), S_OK) << "tag " << id;
    }
    ASSERT_EQ(tags.close(), S_OK);

    ASSERT_EQ(tags.open(path), S_OK);
    for (int id = TagId_Title; id <= TagId_Genre; ++id) {
        ASSERT_EQ(tags.getTag(id, buffer.data(), 1024), S_OK) << "tag " << id;
        EXPECT_EQ(std::u16string(buffer.data()), values[static_cast<std::size_t>(id - 1)]) << "tag " << id;
    }
    // Emptying a tag removes it.
    ASSERT_EQ(tags.setTag(TagId_Comment, u"", 0), S_OK);
    ASSERT_EQ(tags.close(), S_OK);
    ASSERT_EQ(tags.open(path), S_OK);
    EXPECT_TRUE(failed(tags.getTag(TagId_Comment, buffer.data(), 1024)) || buffer[0] == 0);
    EXPECT_EQ(tags.close(), S_OK);

    const Decoded after = decodeAll(source, file);
    ASSERT_TRUE(after.opened);
    EXPECT_EQ(after.samples, before.samples) << "writing tags changed the audio";
    ASSERT_EQ(source.open(path), S_OK);
    StreamInfo info{};
    ASSERT_EQ(source.getInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.title), values[0]);
    EXPECT_EQ(std::u16string(info.album), values[2]);

    // Nothing but the file itself is left in the folder.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

INSTANTIATE_TEST_SUITE_P(Mediacodec, Formats, testing::ValuesIn(kFormats),
                         [](const testing::TestParamInfo<Format>& p) { return std::string(p.param.name); });

struct Layout {
    const char* name;
    const char* file;
    std::vector<std::string> encode;
    Tone tone;
    std::uint16_t channels; // offered by the runtime
};

void PrintTo(const Layout& c, std::ostream* os) {
    *os << c.name;
}

class Layouts : public testing::TestWithParam<Layout> {};

// Whatever the source's channels and sample format, the runtime offers 16-bit PCM with one or two
// channels at the source's own rate.
TEST_P(Layouts, OfferedAsSixteenBitAtTheSourceRate) {
    const Layout& l = GetParam();
    TempFolder folder;
    const fs::path file = folder / l.file;
    ASSERT_TRUE(makeTone(file, l.encode, l.tone));
    audio::AudioSource source(plugins());
    const Decoded d = decodeAll(source, file);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.plugin, "mediacodec");
    EXPECT_EQ(d.format.channels, l.channels);
    EXPECT_EQ(d.format.sampleRate, static_cast<std::uint32_t>(l.tone.rate));
    const double expected = l.tone.seconds * 22050.0;
    EXPECT_NEAR(static_cast<double>(d.samples.size()), expected, expected * 0.05);
    EXPECT_NEAR(toneFrequency(d.samples), l.tone.frequency, l.tone.frequency * 0.02);
}

INSTANTIATE_TEST_SUITE_P(
    Mediacodec, Layouts,
    testing::Values(Layout{"mono22050", "a.wav", {"-c:a", "pcm_s16le"}, {440, 22050, 1, 1.5}, 1},
                    Layout{"sixChannels", "b.flac", {"-c:a", "flac"}, {1000, 48000, 6, 1.5}, 2},
                    Layout{
                        "bits24", "c.flac", {"-c:a", "flac", "-sample_fmt", "s32"}, {1000, 96000, 2, 1.0}, 2},
                    Layout{"float", "d.wav", {"-c:a", "pcm_f32le"}, {700, 32000, 1, 1.0}, 1},
                    Layout{"lowRateMp3", "e.mp3", {"-c:a", "libmp3lame"}, {300, 8000, 1, 2.0}, 1}),
    [](const testing::TestParamInfo<Layout>& p) { return std::string(p.param.name); });

} // namespace
