#include "plugins/mediacodec/MediaDecoder.h"

#include "mediacodec/FakeRuntime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tonemirror;
using fakes::audioOutput;
using fakes::FakeOutput;
using fakes::FakeRuntime;
using fakes::videoOutput;
using mediacodec::MediaDecoder;

namespace {

const std::u16string kFile = u"/music/a.wma";

struct SelectionCase {
    const char* name;
    std::vector<FakeOutput> outputs;
    bool opens;
    std::uint32_t chosenOutput; // when it opens
    std::uint16_t channels;
    std::uint32_t rate;
};

void PrintTo(const SelectionCase& c, std::ostream* os) {
    *os << c.name;
}

FakeOutput refusingSet(FakeOutput o) {
    o.acceptsSet = false;
    return o;
}

FakeOutput withSubtype(FakeOutput o, const TmGuid& subtype) {
    std::memcpy(o.mediaType.data() + offsetof(wmf::MediaType, subType), &subtype, sizeof subtype);
    return o;
}

// A description that claims a larger format block than it carries.
FakeOutput lyingFormatSize(FakeOutput o) {
    const std::uint32_t size = 4000;
    std::memcpy(o.mediaType.data() + offsetof(wmf::MediaType, formatSize), &size, sizeof size);
    return o;
}

class OutputSelection : public testing::TestWithParam<SelectionCase> {};

TEST_P(OutputSelection, AcceptsOnlySixteenBitPcmWithOneOrTwoChannels) {
    const SelectionCase& c = GetParam();
    FakeRuntime rt;
    rt.files[kFile].outputs = c.outputs;
    MediaDecoder d(rt);
    const HResult r = d.open(kFile.c_str());
    StreamFormat f{};
    if (!c.opens) {
        EXPECT_TRUE(failed(r));
        EXPECT_EQ(d.format(&f), E_FAIL);
        EXPECT_TRUE(rt.log.selectedStreams.empty());
        EXPECT_EQ(rt.log.closes, rt.log.opens) << "a refused file stays open in the reader";
        return;
    }
    ASSERT_EQ(r, S_OK);
    ASSERT_EQ(d.format(&f), S_OK);
    EXPECT_EQ(f.formatTag, 1);
    EXPECT_EQ(f.channels, c.channels);
    EXPECT_EQ(f.sampleRate, c.rate);
    // Only the accepted output's stream is selected, by the number the runtime gave for it.
    EXPECT_EQ(rt.log.selectedStreams, std::vector<std::uint16_t>{FakeRuntime::streamOf(c.chosenOutput)});
    EXPECT_EQ(rt.log.samplesStream, FakeRuntime::streamOf(c.chosenOutput));
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, OutputSelection,
    testing::Values(
        SelectionCase{"stereo", {audioOutput(2, 44100)}, true, 0, 2, 44100},
        SelectionCase{"mono", {audioOutput(1, 8000)}, true, 0, 1, 8000},
        SelectionCase{"bits24", {audioOutput(2, 48000, 24)}, false, 0, 0, 0},
        SelectionCase{"bits8", {audioOutput(1, 11025, 8)}, false, 0, 0, 0},
        SelectionCase{"sixChannels", {audioOutput(6, 48000)}, false, 0, 0, 0},
        SelectionCase{"extensibleDoesNotFit",
                      {audioOutput(2, 44100, 16, wmf::kWaveFormatExtensible, 22)},
                      false,
                      0,
                      0,
                      0},
        SelectionCase{"notPcmTag", {audioOutput(2, 44100, 16, 0x161)}, false, 0, 0, 0},
        SelectionCase{"compressedSubtype",
                      {withSubtype(audioOutput(2, 44100), wmf::kSubtypeCompressed)},
                      false,
                      0,
                      0,
                      0},
        SelectionCase{"formatRefused", {refusingSet(audioOutput(2, 44100))}, false, 0, 0, 0},
        SelectionCase{"formatSizeBeyondBuffer", {lyingFormatSize(audioOutput(2, 44100))}, false, 0, 0, 0},
        SelectionCase{"noOutputs", {}, false, 0, 0, 0},
        SelectionCase{"videoFirst", {videoOutput(), audioOutput(2, 32000)}, true, 1, 2, 32000},
        SelectionCase{"firstAcceptedWins",
                      {videoOutput(), audioOutput(6, 48000), audioOutput(1, 22050), audioOutput(2, 44100)},
                      true,
                      2,
                      1,
                      22050}),
    [](const testing::TestParamInfo<SelectionCase>& p) { return p.param.name; });

TEST(MediaDecoder, ReadHandsOnEverySampleThenEndOfStream) {
    FakeRuntime rt;
    auto& file = rt.files[kFile];
    file.outputs = {audioOutput(2, 44100)};
    file.samples = {{1, 2, 3, 4}, {}, {5, 6, 7, 8, 9, 10, 11, 12}};
    MediaDecoder d(rt);
    ASSERT_EQ(d.open(kFile.c_str()), S_OK);
    const void* data = nullptr;
    std::uint32_t bytes = 0;
    std::vector<std::uint8_t> all;
    HResult r = S_OK;
    int reads = 0;
    while ((r = d.read(&data, &bytes)) == S_OK && reads++ < 10) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        all.insert(all.end(), p, p + bytes);
    }
    EXPECT_EQ(r, E_END_OF_STREAM);
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(all, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // The decoder does not close itself at the end.
    StreamFormat f{};
    EXPECT_EQ(d.format(&f), S_OK);
    EXPECT_EQ(d.close(), S_OK);
    EXPECT_EQ(d.read(&data, &bytes), E_FAIL);
}

TEST(MediaDecoder, OtherReadFailuresPassThrough) {
    FakeRuntime rt;
    auto& file = rt.files[kFile];
    file.outputs = {audioOutput(1, 22050)};
    file.endResult = static_cast<HResult>(0xC00D002Fu);
    MediaDecoder d(rt);
    ASSERT_EQ(d.open(kFile.c_str()), S_OK);
    const void* data = nullptr;
    std::uint32_t bytes = 0;
    EXPECT_EQ(d.read(&data, &bytes), static_cast<HResult>(0xC00D002Fu));
}

TEST(MediaDecoder, ArgumentAndStateChecks) {
    FakeRuntime rt;
    rt.files[kFile].outputs = {audioOutput(2, 44100)};
    MediaDecoder d(rt);
    const void* data = nullptr;
    std::uint32_t bytes = 0;
    StreamInfo info{};
    StreamFormat f{};
    EXPECT_EQ(d.open(nullptr), E_INVALIDARG);
    EXPECT_EQ(d.read(nullptr, &bytes), E_INVALIDARG);
    EXPECT_EQ(d.read(&data, nullptr), E_INVALIDARG);
    EXPECT_EQ(d.read(&data, &bytes), E_FAIL);
    EXPECT_EQ(d.info(nullptr), E_INVALIDARG);
    EXPECT_EQ(d.info(&info), E_FAIL);
    EXPECT_EQ(d.format(nullptr), E_INVALIDARG);
    EXPECT_EQ(d.format(&f), E_FAIL);
    EXPECT_EQ(d.close(), S_OK);
    EXPECT_TRUE(failed(d.open(u"/music/missing.wma")));
    EXPECT_EQ(d.priority(), 100);

    FakeRuntime broken;
    broken.createFails = true;
    broken.files[kFile].outputs = {audioOutput(2, 44100)};
    MediaDecoder orphan(broken);
    EXPECT_EQ(orphan.open(kFile.c_str()), E_FAIL);
}

TEST(MediaDecoder, OpenAgainClosesTheFirstFile) {
    FakeRuntime rt;
    rt.files[kFile].outputs = {audioOutput(2, 44100)};
    rt.files[u"/music/b.wma"].outputs = {audioOutput(1, 8000)};
    MediaDecoder d(rt);
    ASSERT_EQ(d.open(kFile.c_str()), S_OK);
    ASSERT_EQ(d.open(u"/music/b.wma"), S_OK);
    EXPECT_EQ(rt.log.closes, 1);
    StreamFormat f{};
    ASSERT_EQ(d.format(&f), S_OK);
    EXPECT_EQ(f.sampleRate, 8000u);
}

struct InfoCase {
    const char* name;
    std::size_t titleChars; // 0 = no title
    bool duration;
    bool bitRate;
    HResult expected;
};

void PrintTo(const InfoCase& c, std::ostream* os) {
    *os << c.name;
}

class StreamInfoFields : public testing::TestWithParam<InfoCase> {};

TEST_P(StreamInfoFields, FillsWhatTheFileKnows) {
    const InfoCase& c = GetParam();
    FakeRuntime rt;
    auto& file = rt.files[kFile];
    file.outputs = {audioOutput(2, 44100)};
    std::u16string title;
    for (std::size_t i = 0; i < c.titleChars; ++i) {
        title.push_back(static_cast<char16_t>(u'a' + i % 26));
    }
    if (c.titleChars > 0) {
        file.attributes.putString(wmf::kAttrTitle, title);
    }
    if (c.duration) {
        file.attributes.putQword(wmf::kAttrDuration, 1234567890ull); // 123456 ms
    }
    if (c.bitRate) {
        file.attributes.putDword(wmf::kAttrBitrate, 192000);
    }
    // Wrong types are ignored rather than misread.
    file.attributes.putDword(wmf::kAttrAuthor, 5);

    MediaDecoder d(rt);
    ASSERT_EQ(d.open(kFile.c_str()), S_OK);
    StreamInfo info;
    std::memset(&info, 0xAB, sizeof info); // the decoder writes the whole record
    EXPECT_EQ(d.info(&info), c.expected);
    if (failed(c.expected)) {
        return;
    }
    const std::u16string got(info.title);
    EXPECT_EQ(got, title.substr(0, 255));
    EXPECT_EQ(info.artist[0], 0);
    EXPECT_EQ(info.album[0], 0);
    EXPECT_EQ(info.durationMs, c.duration ? 123456u : 0u);
    EXPECT_EQ(info.bitRate, c.bitRate ? 192000u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Info, StreamInfoFields,
                         testing::Values(InfoCase{"titleOnly", 12, false, false, S_OK},
                                         InfoCase{"titleCutAt255", 300, true, true, S_OK},
                                         InfoCase{"titleLongerThanFirstBuffer", 5000, false, false, S_OK},
                                         InfoCase{"durationWithoutTitle", 0, true, false, S_OK},
                                         InfoCase{"bitRateOnly", 0, false, true, S_OK},
                                         InfoCase{"nothingKnown", 0, false, false, E_FAIL}),
                         [](const testing::TestParamInfo<InfoCase>& p) { return p.param.name; });

TEST(MediaDecoder, DurationBeyondMillisecondRangeSaturates) {
    FakeRuntime rt;
    auto& file = rt.files[kFile];
    file.outputs = {audioOutput(2, 44100)};
    file.attributes.putQword(wmf::kAttrDuration, ~0ull);
    MediaDecoder d(rt);
    ASSERT_EQ(d.open(kFile.c_str()), S_OK);
    StreamInfo info{};
    ASSERT_EQ(d.info(&info), S_OK);
    EXPECT_EQ(info.durationMs, 0xFFFFFFFFu);
}

} // namespace
