#include "compresscodec/TestFiles.h"
#include "plugins/compresscodec/AsfParser.h"
#include "plugins/compresscodec/Id3Tags.h"
#include "plugins/compresscodec/MpegParser.h"
#include "plugins/compresscodec/WaveParser.h"

#include <gtest/gtest.h>

using namespace tonemirror::compresscodec;
using namespace testfiles;

namespace {

bool parseWaveBytes(const Bytes& bytes, SourceFormat& out, std::uint64_t* dataOffset = nullptr) {
    MemoryByteSource source(bytes);
    const bool ok = parseWave(source, out);
    if (dataOffset != nullptr) {
        *dataOffset = source.position();
    }
    return ok;
}

// A PCM format record carrying `extra` bytes of codec data after its 18 bytes.
Bytes formatWithExtra(std::size_t extra) {
    Bytes f = pcmFormat(2, 44100, 16);
    le16(f, static_cast<std::uint32_t>(std::min<std::size_t>(extra, 0xFFFF)));
    f.resize(f.size() + extra, 0x5A);
    return f;
}

} // namespace

TEST(WaveParser, FindsDataAfterSkippedChunks) {
    const Bytes pcm = rampPcm(100);
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"plain", wav(2, 44100, 16, pcm)},
        {"LIST between fmt and data",
         riff({chunk("fmt ", pcmFormat(2, 44100, 16)), chunk("LIST", Bytes(26, 'x')), chunk("data", pcm)})},
        {"odd LIST with pad byte",
         riff({chunk("fmt ", pcmFormat(2, 44100, 16)), chunk("LIST", Bytes(27, 'x')), chunk("data", pcm)})},
        {"odd LIST without pad byte", riff({chunk("fmt ", pcmFormat(2, 44100, 16)),
                                            chunk("LIST", Bytes(27, 'x'), false), chunk("data", pcm)})},
        {"fmt of 18 bytes", riff({chunk("fmt ",
                                        [] {
                                            Bytes f = pcmFormat(2, 44100, 16);
                                            le16(f, 0);
                                            return f;
                                        }()),
                                  chunk("data", pcm)})},
        {"fmt of the largest size", riff({chunk("fmt ", formatWithExtra(0xFFFF)), chunk("data", pcm)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SourceFormat f;
        std::uint64_t offset = 0;
        ASSERT_TRUE(parseWaveBytes(c.file, f, &offset));
        EXPECT_EQ(f.formatTag(), 1);
        EXPECT_EQ(f.channels(), 2);
        EXPECT_EQ(f.samplesPerSec(), 44100u);
        EXPECT_EQ(f.bitsPerSample(), 16);
        EXPECT_GE(f.record.size(), 18u);
        EXPECT_EQ(f.bytesLeft, pcm.size());
        ASSERT_EQ(offset + pcm.size(), c.file.size());
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), c.file.begin() + static_cast<std::ptrdiff_t>(offset)));
    }
}

TEST(WaveParser, RefusesMalformedFiles) {
    const Bytes pcm = rampPcm(10);
    Bytes hugeFmt = riff({chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("data", pcm)});
    hugeFmt[16] = 0xFF, hugeFmt[17] = 0xFF, hugeFmt[18] = 0xFF, hugeFmt[19] = 0x7F;
    Bytes hugeList =
        riff({chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("LIST", Bytes(4, 0)), chunk("data", pcm)});
    hugeList[40] = 0xF0, hugeList[41] = 0xFF, hugeList[42] = 0xFF, hugeList[43] = 0xFF;
    const Bytes cases[] = {
        riff({chunk("LIST", Bytes(4, 0)), chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("data", pcm)}),
        riff({chunk("fmt ", pcmFormat(1, 8000, 16))}), // no data chunk
        hugeFmt,
        riff({chunk("fmt ", formatWithExtra(0x10000)), chunk("data", pcm)}), // one byte over, all present
        hugeList,
        Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '},
        Bytes{'R', 'I', 'F', 'F'},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        SourceFormat f;
        EXPECT_FALSE(parseWaveBytes(cases[i], f));
    }
}

TEST(WaveParser, ClampsDataSizeToTheFile) {
    const Bytes pcm = rampPcm(50);
    Bytes file = wav(1, 8000, 16, pcm);
    // A streamed file: the data size was never filled in.
    for (int i = 40; i < 44; ++i) {
        file[i] = 0xFF;
    }
    SourceFormat f;
    ASSERT_TRUE(parseWaveBytes(file, f));
    EXPECT_EQ(f.bytesLeft, pcm.size());
}

TEST(MpegHeader, TablesAndFrameLengths) {
    struct Case {
        std::uint32_t header;
        int layer;
        std::uint32_t kbps, rate, length;
        bool mono;
    };
    const Case cases[] = {
        {0xFFFB9044, 3, 128, 44100, 417, false},     // MPEG-1 III
        {0xFFFB9244, 3, 128, 44100, 418, false},     // padded
        {0xFFFBE4C4, 3, 320, 48000, 960, true},      // 320 kbit/s at 48 kHz, single channel
        {0xFFF38044, 3, 64, 22050, 208, false},      // MPEG-2 III: 72 x
        {0xFFE38044, 3, 64, 11025, 417, false},      // MPEG-2.5 III
        {0xFFFDA000, 2, 192, 44100, 626, false},     // MPEG-1 II
        {0xFFF5A000, 2, 96, 22050, 626, false},      // MPEG-2 II: 144 x like MPEG-1
        {0xFFFFE000, 1, 448, 44100, 121 * 4, false}, // MPEG-1 I: (12 x + pad) x 4
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        const auto h = decodeMpegHeader(c.header);
        ASSERT_TRUE(h.has_value());
        EXPECT_EQ(h->layer, c.layer);
        EXPECT_EQ(h->bitRateKbps, c.kbps);
        EXPECT_EQ(h->sampleRate, c.rate);
        EXPECT_EQ(h->frameLength, c.length);
        EXPECT_EQ(h->singleChannel, c.mono);
    }
    // Reserved version, reserved layer, reserved rate, bad bit-rate index, no sync.
    for (std::uint32_t bad : {0xFFEB9044u, 0xFFF99044u, 0xFFFB9C44u, 0xFFFBF044u, 0xFF1B9044u}) {
        EXPECT_FALSE(decodeMpegHeader(bad).has_value()) << std::hex << bad;
    }
}

TEST(MpegHeader, Layer3Record) {
    const auto r = mpegLayer3Record(*decodeMpegHeader(0xFFFB9244));
    const Bytes expected = {0x55, 0,  2, 0, 0x44, 0xAC, 0, 0, 0x80, 0x3E, 0, 0, 1, 0, 0,
                            0,    12, 0, 1, 0,    1,    0, 0, 0,    0xA2, 1, 1, 0, 0, 0};
    EXPECT_EQ(r, expected);
}

TEST(MpegParser, FindsTheFirstRealHeader) {
    const Bytes frame = mpegFrame();
    struct Case {
        const char* name;
        Bytes file;
        std::uint64_t headerAt;
    };
    Bytes longJunk(3000, 0x11);
    longJunk[1021] = 0xFF; // a sync whose header straddles the first window refill
    longJunk[1022] = 0xE0; // ... with a reserved layer: a false sync
    Bytes straddle(1022, 0x22);
    Bytes falseSync{0xFF, 0xFB, 0x9C, 0x44, 0x00, 0xFF, 0xF9, 0x90, 0x44};
    Bytes tagged = id3Tag(id3Frame("TIT2", latin1Text("x")));
    std::vector<Case> cases = {
        {"at the start", frame, 0},
        {"junk longer than the window", longJunk, longJunk.size()},
        {"header across a refill", straddle, straddle.size()},
        {"false syncs with reserved fields", falseSync, falseSync.size()},
        {"after an ID3v2 tag", tagged, tagged.size()},
    };
    for (auto& c : cases) {
        append(c.file, frame);
        append(c.file, frame);
        SCOPED_TRACE(c.name);
        MemoryByteSource source(c.file);
        SourceFormat f;
        ASSERT_TRUE(parseMpeg(source, f));
        EXPECT_EQ(source.position(), c.headerAt);
        EXPECT_EQ(f.bytesLeft, c.file.size() - c.headerAt);
        EXPECT_EQ(f.formatTag(), 0x55);
        EXPECT_EQ(f.samplesPerSec(), 44100u);
        EXPECT_EQ(f.avgBytesPerSec(), 16000u);
    }
}

TEST(MpegParser, FailsWithoutAHeader) {
    Bytes tagReachingEnd = id3Tag(Bytes(100, 0));
    append(tagReachingEnd, Bytes(5, 0));
    tagReachingEnd[9] = static_cast<std::uint8_t>(100 + 5); // 10 + 105 = the file size
    Bytes tagPastEnd = id3Tag(Bytes(100, 0));
    tagPastEnd[8] = 0x7F;
    const Bytes cases[] = {
        Bytes(5000, 0xFF), // bit-rate index 15 everywhere
        Bytes(5, 0xFF),    // shorter than the ID3 probe
        tagReachingEnd,
        tagPastEnd,
        Bytes{0xFF, 0xFB, 0x90, 0x44, 0, 0, 0, 0, 0, 0, 1}, // window never gets 4 more bytes
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        MemoryByteSource source(cases[i]);
        SourceFormat f;
        EXPECT_FALSE(parseMpeg(source, f));
    }
}

TEST(Id3Text, Encodings) {
    struct Case {
        const char* name;
        Bytes data;
        std::u16string expected;
    };
    const Case cases[] = {
        {"latin-1", {0, 'R', 0xE9, 's', 'u', 'm', 0xE9, 0, 'x'}, u"R\u00e9sum\u00e9"},
        {"utf-16 FF FE", {1, 0xFF, 0xFE, 'A', 0, 0xAC, 0x20, 0, 0, 'x', 0}, u"A\u20ac"},
        {"utf-16 FE FF", {1, 0xFE, 0xFF, 0, 'A', 0x20, 0xAC}, u"A\u20ac"},
        {"utf-16 without BOM", {1, 'A', 0, 'B', 0}, u"AB"},
        {"utf-16 odd trailing byte", {1, 0xFF, 0xFE, 'A', 0, 'B'}, u"A"},
        {"utf-8", {3, 'A', 0xE2, 0x82, 0xAC}, u"A\u20ac"},
        {"no encoding byte", {'A', 'B', 'C'}, u"ABC"},
        {"only the encoding byte", {0}, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeId3Text(c.data), c.expected);
    }
    Bytes longText{0};
    longText.resize(400, 'a');
    EXPECT_EQ(decodeId3Text(longText).size(), 255u);
}

TEST(Id3Tags, ReadsVersion23Frames) {
    Bytes frames;
    append(frames, id3Frame("TIT2", latin1Text("Old title")));
    append(frames, id3Frame("TPE1", {1, 0xFE, 0xFF, 0, 'B', 0, 'a', 0, 'n', 0, 'd'}));
    append(frames, id3Frame("TALB", latin1Text("Hidden"), 0x80)); // compressed: ignored
    append(frames, id3Frame("TIT2", latin1Text("New title")));
    append(frames, Bytes(20, 0)); // padding
    Bytes file = id3Tag(frames);
    append(file, mpegFrame());
    MemoryByteSource source(file);
    source.seek(7);
    TagTexts tags;
    ASSERT_TRUE(readTags(source, tags));
    EXPECT_EQ(tags.title, u"New title");
    EXPECT_EQ(tags.artist, u"Band");
    EXPECT_EQ(tags.album, u"");
    EXPECT_EQ(source.position(), 7u);
}

TEST(Id3Tags, Unsynchronisation) {
    // 0xFF 0x00 pairs in the stored tag: the 0x00 goes, so the frame size below is the real one.
    Bytes frames = id3Frame("TIT2", {0, 'a', 0xFF, 'b'});
    Bytes stored;
    for (std::uint8_t b : frames) {
        stored.push_back(b);
        if (b == 0xFF) {
            stored.push_back(0x00);
        }
    }
    Bytes file = id3Tag(stored, 3, 0x80);
    append(file, mpegFrame());
    MemoryByteSource source(file);
    TagTexts tags;
    ASSERT_TRUE(readId3v2(source, tags));
    EXPECT_EQ(tags.title, u"a\u00ffb");
}

TEST(Id3Tags, FallsBackToVersion1) {
    struct Case {
        const char* name;
        Bytes head;
    };
    Bytes v24 = id3Tag(id3Frame("TIT2", latin1Text("v2.4 title")), 4);
    Bytes extended = id3Tag(id3Frame("TIT2", latin1Text("extended")), 3, 0x40);
    Bytes tooLong = id3Tag(id3Frame("TIT2", latin1Text("too long")));
    tooLong[8] = 0x7F;
    Bytes noText = id3Tag(id3Frame("COMM", latin1Text("comment")));
    const Case cases[] = {{"v2.4", v24},
                          {"extended header", extended},
                          {"size past the end", tooLong},
                          {"no text frames", noText},
                          {"no ID3v2", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = c.head;
        append(file, mpegFrame());
        append(file, id3v1("Title one", "Artist one", std::string(30, 'L')));
        MemoryByteSource source(file);
        TagTexts tags;
        ASSERT_TRUE(readTags(source, tags));
        EXPECT_EQ(tags.title, u"Title one");
        EXPECT_EQ(tags.artist, u"Artist one");
        EXPECT_EQ(tags.album, std::u16string(30, u'L'));
    }
    Bytes bare = mpegFrame();
    MemoryByteSource source(bare);
    TagTexts tags;
    EXPECT_FALSE(readTags(source, tags));
}

namespace {

Bytes asfObject(const Bytes& guid, const Bytes& body) {
    Bytes o = guid;
    const std::uint64_t size = 24 + body.size();
    le32(o, static_cast<std::uint32_t>(size));
    le32(o, static_cast<std::uint32_t>(size >> 32));
    append(o, body);
    return o;
}

const Bytes kAsfHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Bytes kAsfStream = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                          0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Bytes kAsfAudio = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                         0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

Bytes asfFile(const Bytes& streamType, std::uint32_t recordLength) {
    Bytes props = streamType;
    props.resize(40, 0);
    le32(props, recordLength);
    props.resize(54, 0);
    Bytes record = pcmFormat(2, 44100, 16, 0x161);
    record.resize(recordLength, 0);
    append(props, record);
    Bytes file = kAsfHeader;
    le32(file, 30 + 40 + 24 + static_cast<std::uint32_t>(props.size()));
    le32(file, 0);
    file.resize(30, 0);
    append(file, asfObject(Bytes(16, 0x42), Bytes(16, 0))); // some other header object
    append(file, asfObject(kAsfStream, props));
    return file;
}

} // namespace

TEST(AsfParser, TakesTheAudioRecord) {
    const Bytes file = asfFile(kAsfAudio, 28);
    MemoryByteSource source(file);
    SourceFormat f;
    ASSERT_TRUE(parseAsf(source, f));
    EXPECT_EQ(f.formatTag(), 0x161);
    EXPECT_EQ(f.record.size(), 28u);
    EXPECT_EQ(source.position(), 0u);
    EXPECT_EQ(f.bytesLeft, file.size());

    Bytes video = asfFile(Bytes(16, 0x77), 28);
    Bytes shortRecord = asfFile(kAsfAudio, 22);
    Bytes truncated(file.begin(), file.end() - 10);
    Bytes tinyObject = file;
    tinyObject[30 + 16] = 10; // object size below 24
    for (const Bytes* bad : {&video, &shortRecord, &truncated, &tinyObject}) {
        MemoryByteSource s(*bad);
        EXPECT_FALSE(parseAsf(s, f));
    }
}

namespace {

// A file of `size` bytes that are zero after the given head, as a sparse file is; records the
// largest single read, which is what a parser allocates for.
class SparseSource final : public ByteSource {
public:
    SparseSource(Bytes head, std::uint64_t size) : head_(std::move(head)), size_(size) {}
    std::size_t read(void* buffer, std::size_t count) override {
        largestRead_ = std::max(largestRead_, count);
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, remaining()));
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = position_ + i < head_.size() ? head_[position_ + i] : 0;
        }
        position_ += n;
        return n;
    }
    bool seek(std::uint64_t offset) override {
        if (offset > size_) {
            return false;
        }
        position_ = offset;
        return true;
    }
    std::uint64_t position() const override { return position_; }
    std::uint64_t size() const override { return size_; }
    std::size_t largestRead() const { return largestRead_; }

private:
    Bytes head_;
    std::uint64_t size_;
    std::uint64_t position_ = 0;
    std::size_t largestRead_ = 0;
};

} // namespace

TEST(HeaderBounds, AFormatChunkClaimingGigabytesIsRefusedUnread) {
    Bytes head = {'R', 'I', 'F', 'F', 0xF0, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    le32(head, 2000000000u);
    append(head, pcmFormat(1, 22050, 16));
    SparseSource source(head, 2100000000u);
    SourceFormat f;
    EXPECT_FALSE(parseWave(source, f));
    EXPECT_LT(source.largestRead(), 70000u);
}

TEST(HeaderBounds, ATagClaimingHundredsOfMegabytesIsReadOnlyInPart) {
    Bytes head = {'I', 'D', '3', 3, 0, 0};
    append(head, syncsafe(250u << 20));
    append(head, id3Frame("TIT2", latin1Text("Still found")));
    SparseSource source(head, 300u << 20);
    TagTexts tags;
    ASSERT_TRUE(readId3v2(source, tags));
    EXPECT_EQ(tags.title, u"Still found");
    EXPECT_LE(source.largestRead(), 16u << 20);
}
