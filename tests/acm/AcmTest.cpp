#include "platform/acm/Acm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace tonemirror::acm;

namespace {

using Bytes = std::vector<std::uint8_t>;

WaveFormatEx pcm16(std::uint16_t channels, std::uint32_t rate) {
    return {kFormatPcm, channels, rate, rate * channels * 2u, static_cast<std::uint16_t>(channels * 2),
            16,         0};
}

WaveFormatEx request(const WaveFormatEx& source) {
    WaveFormatEx d{};
    d.formatTag = kFormatPcm;
    d.channels = source.channels;
    d.samplesPerSec = source.samplesPerSec;
    d.bitsPerSample = 16;
    return d;
}

// Opens a stream from a source record to the PCM the suggestion completes.
StreamHandle openStream(const void* record, std::size_t size, WaveFormatEx& destination) {
    WaveFormatEx source{};
    std::memcpy(&source, record, sizeof(source));
    destination = request(source);
    if (formatSuggest(record, size, &destination, sizeof(destination), kSuggestAll) != kNoError) {
        return nullptr;
    }
    StreamHandle s = nullptr;
    return streamOpen(&s, record, size, &destination, 0) == kNoError ? s : nullptr;
}

struct Converted {
    MmResult result;
    std::uint32_t used;
    Bytes out;
};

Converted convertOnce(StreamHandle s, const std::uint8_t* src, std::uint32_t length, std::uint32_t capacity,
                      std::uint32_t flags) {
    Bytes out(capacity);
    StreamHeader h;
    h.source = src;
    h.sourceLength = length;
    h.destination = out.data();
    h.destinationLength = capacity;
    EXPECT_EQ(streamPrepareHeader(s, &h, 0), kNoError);
    const MmResult r = streamConvert(s, &h, flags);
    EXPECT_EQ(streamUnprepareHeader(s, &h, 0), kNoError);
    out.resize(r == kNoError ? h.destinationLengthUsed : 0);
    return {r, h.sourceLengthUsed, out};
}

// Feeds the stream in blocks of blockSize with destinations of capacity, the way the decoder does:
// unused bytes are offered again, the last block is marked, then the stream is drained.
Bytes convertStream(StreamHandle s, const Bytes& data, std::uint32_t blockSize, std::uint32_t capacity) {
    Bytes all;
    std::size_t at = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(blockSize, data.size() - at));
        const bool last = at + n == data.size();
        const Converted c = convertOnce(s, data.data() + at, n, capacity, last ? kConvertEnd : 0);
        EXPECT_EQ(c.result, kNoError);
        if (c.result != kNoError || (n == 0 && c.out.empty())) {
            break;
        }
        EXPECT_TRUE(c.used > 0 || !c.out.empty() || n == 0);
        all.insert(all.end(), c.out.begin(), c.out.end());
        at += c.used;
    }
    return all;
}

Bytes readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(AcmFormatSuggest, CompletesPcmAndRefusesTheRest) {
    const WaveFormatEx stereo = pcm16(2, 44100);
    WaveFormatEx d = request(stereo);
    ASSERT_EQ(formatSuggest(&stereo, sizeof(stereo), &d, sizeof(d), kSuggestAll), kNoError);
    EXPECT_EQ(d.blockAlign, 4);
    EXPECT_EQ(d.avgBytesPerSec, 176400u);

    // MPEG declares no sample width; the destination is 16-bit PCM all the same.
    Bytes mp3(30, 0);
    const WaveFormatEx mpeg{kFormatMpegLayer3, 2, 44100, 16000, 1, 0, 12};
    std::memcpy(mp3.data(), &mpeg, sizeof(mpeg));
    d = request(mpeg);
    EXPECT_EQ(formatSuggest(mp3.data(), mp3.size(), &d, sizeof(d), kSuggestAll), kNoError);
    EXPECT_EQ(d.bitsPerSample, 16);

    struct Case {
        const char* name;
        WaveFormatEx source;
        WaveFormatEx demanded;
        MmResult expected;
    };
    const Case cases[] = {
        {"8-bit demanded", stereo, {kFormatPcm, 2, 44100, 0, 0, 8, 0}, kNotPossible},
        {"other rate demanded", stereo, {kFormatPcm, 2, 22050, 0, 0, 16, 0}, kNotPossible},
        {"24-bit source", {kFormatPcm, 2, 44100, 264600, 6, 24, 0}, request(stereo), kNotPossible},
        {"ADPCM", {0x0002, 2, 44100, 44100, 2048, 4, 0}, request(stereo), kNotPossible},
        {"absurd rate",
         {kFormatPcm, 1, 0x7FFFFFFF, 0, 2, 16, 0},
         {kFormatPcm, 1, 0x7FFFFFFF, 0, 0, 16, 0},
         kNotPossible},
        {"no channels",
         {kFormatPcm, 0, 44100, 0, 0, 16, 0},
         {kFormatPcm, 0, 44100, 0, 0, 16, 0},
         kNotPossible},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WaveFormatEx dest = c.demanded;
        EXPECT_EQ(formatSuggest(&c.source, sizeof(c.source), &dest, sizeof(dest), kSuggestAll), c.expected);
    }
    EXPECT_EQ(formatSuggest(&stereo, 10, &d, sizeof(d), kSuggestAll), kInvalidParam);
    EXPECT_EQ(formatSuggest(&stereo, sizeof(stereo), nullptr, sizeof(d), kSuggestAll), kInvalidParam);
    EXPECT_EQ(formatSuggest(&stereo, sizeof(stereo), &d, sizeof(d), 0x1), kInvalidFlag);
}

TEST(AcmStream, PcmWholeFramesAndHeaderRules) {
    const WaveFormatEx stereo = pcm16(2, 8000);
    WaveFormatEx d{};
    StreamHandle s = openStream(&stereo, sizeof(stereo), d);
    ASSERT_NE(s, nullptr);
    std::uint32_t size = 0;
    ASSERT_EQ(streamSize(s, 32000, &size, kSizeFromDestination), kNoError);
    EXPECT_EQ(size, 32000u);

    Bytes data(103);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    // A destination of 10 bytes takes two frames; the rest stays with the caller.
    Converted c = convertOnce(s, data.data(), 103, 10, 0);
    EXPECT_EQ(c.result, kNoError);
    EXPECT_EQ(c.used, 8u);
    EXPECT_EQ(c.out, Bytes(data.begin(), data.begin() + 8));
    // Not the last block: an incomplete frame is left unused; the last block drops it.
    c = convertOnce(s, data.data() + 8, 95, 1000, 0);
    EXPECT_EQ(c.used, 92u);
    c = convertOnce(s, data.data() + 100, 3, 1000, kConvertEnd);
    EXPECT_EQ(c.used, 3u);
    EXPECT_TRUE(c.out.empty());

    StreamHeader h;
    h.source = data.data();
    h.sourceLength = 4;
    h.destination = data.data();
    h.destinationLength = 0;
    EXPECT_EQ(streamConvert(s, &h, 0), kUnprepared);
    EXPECT_EQ(streamUnprepareHeader(s, &h, 0), kUnprepared);
    EXPECT_EQ(streamConvert(nullptr, &h, 0), kInvalidHandle);
    EXPECT_EQ(streamClose(s, 0), kNoError);
}

TEST(AcmStream, MpegOutputIsTheSameWhateverTheBlockSizes) {
    const auto folder = std::filesystem::temp_directory_path() / ("tm-acm-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "tone.mp3";
    const std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                                "\"sine=frequency=440:sample_rate=44100:duration=2\" -ac 2 -c:a libmp3lame "
                                "-b:a 128k -write_xing 0 -id3v2_version 0 -f mp3 \"" +
                                file.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes mp3 = readFile(file);
    std::filesystem::remove_all(folder);
    ASSERT_GT(mp3.size(), 4u);
    ASSERT_EQ(mp3[0], 0xFF); // the stream starts at its first frame

    Bytes record(30, 0);
    const WaveFormatEx mpeg{kFormatMpegLayer3, 2, 44100, 16000, 1, 0, 12};
    std::memcpy(record.data(), &mpeg, sizeof(mpeg));
    WaveFormatEx d{};

    StreamHandle big = openStream(record.data(), record.size(), d);
    ASSERT_NE(big, nullptr);
    std::uint32_t block = 0;
    ASSERT_EQ(streamSize(big, d.avgBytesPerSec, &block, kSizeFromDestination), kNoError);
    EXPECT_GT(block, 0u);
    EXPECT_LE(block, 16000u);
    const Bytes reference = convertStream(big, mp3, block, d.avgBytesPerSec);
    streamClose(big, 0);
    // Every frame decodes to 1152 stereo frames of 16 bits.
    ASSERT_EQ(reference.size() % (1152 * 4), 0u);
    EXPECT_NEAR(static_cast<double>(reference.size()) / 4, 2.0 * 44100, 3 * 1152);

    // Small destinations: decoded PCM that does not fit is held and delivered in order.
    StreamHandle small = openStream(record.data(), record.size(), d);
    ASSERT_NE(small, nullptr);
    const Bytes pieces = convertStream(small, mp3, 777, 1000);
    streamClose(small, 0);
    EXPECT_EQ(pieces, reference);

    // Streams share nothing: several decode at once on their own threads.
    std::vector<Bytes> results(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            WaveFormatEx dest{};
            StreamHandle s = openStream(record.data(), record.size(), dest);
            if (s != nullptr) {
                results[t] = convertStream(s, mp3, 500 + 1000 * static_cast<std::uint32_t>(t), 3000);
                streamClose(s, 0);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (const auto& r : results) {
        EXPECT_EQ(r, reference);
    }
}
