#include "compresscodec/TestFiles.h"
#include "plugins/compresscodec/CompressDecoder.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tonemirror;
using namespace tonemirror::compresscodec;
using namespace testfiles;

namespace {

// A memory source that keeps its own copy of the bytes, as a file would.
class OwnedBytes final : public ByteSource {
public:
    explicit OwnedBytes(Bytes bytes) : bytes_(std::move(bytes)), inner_(bytes_) {}
    std::size_t read(void* buffer, std::size_t count) override { return inner_.read(buffer, count); }
    bool seek(std::uint64_t offset) override { return inner_.seek(offset); }
    std::uint64_t position() const override { return inner_.position(); }
    std::uint64_t size() const override { return inner_.size(); }

private:
    Bytes bytes_;
    MemoryByteSource inner_;
};

std::unique_ptr<ByteSource> memory(const Bytes& bytes) {
    return std::make_unique<OwnedBytes>(bytes);
}

// Reads until a failure; returns the last result and collects the PCM.
HResult readAll(CompressDecoder& decoder, Bytes& pcm, int maxReads = 10000) {
    for (int i = 0; i < maxReads; ++i) {
        const void* data = nullptr;
        std::uint32_t bytes = 0;
        const HResult r = decoder.read(&data, &bytes);
        if (failed(r)) {
            return r;
        }
        const auto* p = static_cast<const std::uint8_t*>(data);
        pcm.insert(pcm.end(), p, p + bytes);
    }
    return S_OK;
}

Bytes mpegFile(int frames, const Bytes& head = {}, const Bytes& tail = {}) {
    Bytes f = head;
    for (int i = 0; i < frames; ++i) {
        append(f, mpegFrame());
    }
    append(f, tail);
    return f;
}

} // namespace

TEST(CompressDecoder, AcceptsWhatItCanDecode) {
    const Bytes pcm = rampPcm(4410 * 2);
    struct Case {
        const char* name;
        Bytes file;
        std::u16string path;
        bool accepted;
    };
    Bytes sixChannels = wav(6, 44100, 16, pcm);
    Bytes extensible = riff({chunk("fmt ",
                                   [] {
                                       Bytes f = pcmFormat(2, 48000, 16, 0xFFFE);
                                       le16(f, 22);
                                       le16(f, 16);
                                       le32(f, 3);
                                       append(f, Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
                                       return f;
                                   }()),
                             chunk("data", pcm)});
    Bytes tagToEnd = id3Tag(Bytes(2000, 0));
    const Case cases[] = {
        {"16-bit stereo", wav(2, 44100, 16, pcm), u"/m/a.wav", true},
        {"16-bit mono, any name", wav(1, 8000, 16, pcm), u"x", true},
        {"extensible 16-bit", extensible, u"/m/a.wav", true},
        {"8-bit", wav(1, 8000, 8, pcm), u"/m/a.wav", false},
        {"24-bit", wav(2, 44100, 24, pcm), u"/m/a.wav", false},
        {"6 channels", sixChannels, u"/m/a.wav", false},
        {"fmt not first",
         riff({chunk("LIST", Bytes(4, 0)), chunk("fmt ", pcmFormat(2, 44100, 16)), chunk("data", pcm)}),
         u"/m/a.wav", false},
        {"mp3", mpegFile(20), u"/m/a.mp3", true},
        {"upper-case MP3", mpegFile(20), u"/m/A.MP3", true},
        {"mp2 name", mpegFile(20), u"/m/a.Mp2", true},
        {"ogg name", mpegFile(20), u"/m/a.ogg", false},
        {"name shorter than an extension", mpegFile(20), u"mp3", false},
        {"ID3v2 reaching the end", tagToEnd, u"/m/a.mp3", false},
        {"no header", Bytes(3000, 0x55), u"/m/a.mp3", false},
        {"too short to probe", Bytes{'R', 'I', 'F'}, u"/m/a.wav", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CompressDecoder decoder;
        EXPECT_EQ(decoder.openSource(memory(c.file), c.path), c.accepted ? S_OK : E_FAIL);
        StreamFormat format{};
        StreamInfo info{};
        EXPECT_EQ(decoder.format(&format), c.accepted ? S_OK : E_FAIL);
        EXPECT_EQ(decoder.info(&info), c.accepted ? S_OK : E_FAIL);
    }
}

TEST(CompressDecoder, ReportsFormatBitRateAndDuration) {
    const Bytes pcm = rampPcm(44100 * 2 * 3 / 2); // 1.5 s of stereo
    Bytes file =
        riff({chunk("fmt ", pcmFormat(2, 44100, 16)), chunk("LIST", Bytes(1000, 'i')), chunk("data", pcm)});
    CompressDecoder decoder;
    ASSERT_EQ(decoder.openSource(memory(file), u"/m/song.wav"), S_OK);
    StreamFormat format{};
    ASSERT_EQ(decoder.format(&format), S_OK);
    EXPECT_EQ(format.formatTag, 1);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.sampleRate, 44100u);
    StreamInfo info{};
    ASSERT_EQ(decoder.info(&info), S_OK);
    EXPECT_EQ(info.bitRate, 1411200u);
    // The whole file counts, headers included.
    EXPECT_EQ(info.durationMs, file.size() * 8000 / 1411200);
    EXPECT_EQ(info.title[0], u'\0');

    // MPEG: the record's rate, 128 kbit/s -> 16000 bytes per second.
    ASSERT_EQ(decoder.openSource(memory(mpegFile(10)), u"/m/a.mp3"), S_OK);
    ASSERT_EQ(decoder.format(&format), S_OK);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.sampleRate, 44100u);
    ASSERT_EQ(decoder.info(&info), S_OK);
    EXPECT_EQ(info.bitRate, 128000u);
    EXPECT_EQ(info.durationMs, 4170u * 8000 / 128000);
}

TEST(CompressDecoder, PcmComesOutUnchanged) {
    const Bytes pcm = rampPcm(44100 * 2 * 2 + 6); // more than one block
    struct Case {
        const char* name;
        Bytes file;
        std::size_t expectedBytes;
    };
    Bytes streamed = wav(2, 44100, 16, pcm);
    for (int i = 40; i < 44; ++i) {
        streamed[i] = 0xFF; // data size never filled in
    }
    Bytes oddTail = wav(2, 44100, 16, pcm);
    oddTail.push_back(0x7F); // a byte that does not make a frame
    oddTail[40] += 1;
    const Case cases[] = {
        {"plain", wav(2, 44100, 16, pcm), pcm.size()},
        {"odd LIST",
         riff({chunk("fmt ", pcmFormat(2, 44100, 16)), chunk("LIST", Bytes(33, 'l')), chunk("data", pcm)}),
         pcm.size()},
        {"streamed", streamed, pcm.size()},
        {"incomplete last frame", oddTail, pcm.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CompressDecoder decoder;
        ASSERT_EQ(decoder.openSource(memory(c.file), u"/m/a.wav"), S_OK);
        Bytes out;
        EXPECT_EQ(readAll(decoder, out), E_END_OF_STREAM);
        ASSERT_EQ(out.size(), c.expectedBytes);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), pcm.begin()));
        // The decoder closed itself at the end.
        const void* data = nullptr;
        std::uint32_t bytes = 0;
        EXPECT_EQ(decoder.read(&data, &bytes), E_FAIL);
        StreamInfo info{};
        EXPECT_EQ(decoder.info(&info), E_FAIL);
    }
}

TEST(CompressDecoder, TagsReachStreamInfo) {
    Bytes frames;
    append(frames, id3Frame("TIT2", {1, 0xFE, 0xFF, 0x00, 'T', 0x20, 0xAC}));
    append(frames, id3Frame("TPE1", latin1Text(std::string(300, 'a'))));
    append(frames, id3Frame("TALB", {1, 0xFF, 0xFE, 'L', 0, 'P', 0}));
    CompressDecoder decoder;
    ASSERT_EQ(decoder.openSource(memory(mpegFile(5, id3Tag(frames))), u"/m/a.mp3"), S_OK);
    StreamInfo info{};
    ASSERT_EQ(decoder.info(&info), S_OK);
    EXPECT_EQ(std::u16string(info.title), u"T\u20ac");
    EXPECT_EQ(std::u16string(info.artist), std::u16string(255, u'a'));
    EXPECT_EQ(std::u16string(info.album), u"LP");

    // A new open forgets the old tags.
    ASSERT_EQ(decoder.openSource(memory(mpegFile(5)), u"/m/a.mp3"), S_OK);
    ASSERT_EQ(decoder.info(&info), S_OK);
    EXPECT_EQ(info.title[0], u'\0');
}

namespace {

// A codec whose behaviour the test chooses; it records what the decoder hands it.
struct FakeCodec {
    enum Mode { Echo, HalfEcho, Stuck, HoldUntilEnd, RefuseSuggestion };
    Mode mode = Echo;
    std::uint32_t blockSize = 1000;
    std::vector<Bytes> blocks;
    std::vector<std::uint32_t> flags;
    Bytes held;
    bool open = false;
};

class FakeAcm final : public AcmApi {
public:
    explicit FakeAcm(std::shared_ptr<FakeCodec> codec) : codec_(std::move(codec)) {}

    acm::MmResult formatSuggest(const void*, std::size_t, acm::WaveFormatEx* d, std::size_t,
                                std::uint32_t) override {
        if (codec_->mode == FakeCodec::RefuseSuggestion) {
            return acm::kNotPossible;
        }
        d->blockAlign = static_cast<std::uint16_t>(d->channels * 2);
        d->avgBytesPerSec = d->samplesPerSec * d->blockAlign;
        return acm::kNoError;
    }
    acm::MmResult streamOpen(acm::StreamHandle* s, const void*, std::size_t, const acm::WaveFormatEx*,
                             std::uint32_t) override {
        *s = reinterpret_cast<acm::StreamHandle>(codec_.get());
        codec_->open = true;
        return acm::kNoError;
    }
    acm::MmResult streamSize(acm::StreamHandle, std::uint32_t, std::uint32_t* out, std::uint32_t) override {
        *out = codec_->blockSize;
        return acm::kNoError;
    }
    acm::MmResult prepareHeader(acm::StreamHandle, acm::StreamHeader*, std::uint32_t) override {
        return acm::kNoError;
    }
    acm::MmResult unprepareHeader(acm::StreamHandle, acm::StreamHeader*, std::uint32_t) override {
        return acm::kNoError;
    }
    acm::MmResult convert(acm::StreamHandle, acm::StreamHeader* h, std::uint32_t flags) override {
        auto& c = *codec_;
        c.blocks.emplace_back(h->source, h->source + h->sourceLength);
        c.flags.push_back(flags);
        std::uint32_t n = 0;
        switch (c.mode) {
        case FakeCodec::Echo:
            n = std::min(h->sourceLength, h->destinationLength);
            break;
        case FakeCodec::HalfEcho:
            n = std::min((h->sourceLength + 1) / 2, h->destinationLength);
            break;
        case FakeCodec::HoldUntilEnd:
            c.held.insert(c.held.end(), h->source, h->source + h->sourceLength);
            h->sourceLengthUsed = h->sourceLength;
            h->destinationLengthUsed = 0;
            if ((flags & acm::kConvertEnd) != 0 && h->sourceLength == 0) {
                const auto k =
                    static_cast<std::uint32_t>(std::min<std::size_t>(c.held.size(), h->destinationLength));
                std::copy_n(c.held.begin(), k, h->destination);
                c.held.erase(c.held.begin(), c.held.begin() + k);
                h->destinationLengthUsed = k;
            }
            return acm::kNoError;
        default:
            break;
        }
        std::copy_n(h->source, n, h->destination);
        h->sourceLengthUsed = n;
        h->destinationLengthUsed = n;
        return acm::kNoError;
    }
    acm::MmResult streamClose(acm::StreamHandle, std::uint32_t) override {
        codec_->open = false;
        return acm::kNoError;
    }

private:
    std::shared_ptr<FakeCodec> codec_;
};

} // namespace

TEST(CompressDecoder, UnusedBytesComeFirstInTheNextBlock) {
    auto codec = std::make_shared<FakeCodec>();
    codec->mode = FakeCodec::HalfEcho;
    codec->blockSize = 1000;
    const Bytes pcm = rampPcm(2500);
    CompressDecoder decoder(std::make_unique<FakeAcm>(codec));
    ASSERT_EQ(decoder.openSource(memory(wav(1, 8000, 16, pcm)), u"a.wav"), S_OK);
    Bytes out;
    EXPECT_EQ(readAll(decoder, out), E_END_OF_STREAM);
    EXPECT_EQ(out, pcm);
    ASSERT_GE(codec->blocks.size(), 3u);
    // Block 1 used 500 of 1000 bytes: block 2 starts with byte 500.
    EXPECT_EQ(codec->blocks[0].size(), 1000u);
    EXPECT_TRUE(std::equal(codec->blocks[1].begin(), codec->blocks[1].begin() + 500, pcm.begin() + 500));
    // Only a block that reaches the end of the data is marked as the last one.
    for (std::size_t i = 0; i + 1 < codec->blocks.size(); ++i) {
        const bool last = i * 500 + codec->blocks[i].size() >= pcm.size();
        EXPECT_EQ((codec->flags[i] & acm::kConvertEnd) != 0, last) << i;
    }
    EXPECT_FALSE(codec->open);
}

TEST(CompressDecoder, CodecThatMakesNoProgressFails) {
    auto codec = std::make_shared<FakeCodec>();
    codec->mode = FakeCodec::Stuck;
    CompressDecoder decoder(std::make_unique<FakeAcm>(codec));
    ASSERT_EQ(decoder.openSource(memory(wav(1, 8000, 16, rampPcm(2000))), u"a.wav"), S_OK);
    Bytes out;
    EXPECT_EQ(readAll(decoder, out, 5), E_FAIL);
    EXPECT_EQ(codec->blocks.size(), 1u);
}

TEST(CompressDecoder, WhatTheCodecHoldsComesOutAtTheEnd) {
    auto codec = std::make_shared<FakeCodec>();
    codec->mode = FakeCodec::HoldUntilEnd;
    codec->blockSize = 700;
    const Bytes pcm = rampPcm(1000);
    CompressDecoder decoder(std::make_unique<FakeAcm>(codec));
    ASSERT_EQ(decoder.openSource(memory(wav(1, 8000, 16, pcm)), u"a.wav"), S_OK);
    Bytes out;
    EXPECT_EQ(readAll(decoder, out), E_END_OF_STREAM);
    EXPECT_EQ(out, pcm);
}

TEST(CompressDecoder, RefusedSuggestionFailsOpen) {
    auto codec = std::make_shared<FakeCodec>();
    codec->mode = FakeCodec::RefuseSuggestion;
    CompressDecoder decoder(std::make_unique<FakeAcm>(codec));
    EXPECT_EQ(decoder.openSource(memory(wav(1, 8000, 16, rampPcm(100))), u"a.wav"), E_FAIL);
    EXPECT_FALSE(codec->open);
    StreamInfo info{};
    EXPECT_EQ(decoder.info(&info), E_FAIL);
}
