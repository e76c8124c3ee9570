#include "plugins/compresscodec/MpegParser.h"

#include <algorithm>
#include <array>

namespace tonemirror::compresscodec {

namespace {

constexpr std::size_t kWindowSize = 1024;
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kId3HeaderSize = 10;

// Bit rates in kbit/s by index 0-14 (index 0: free format).
constexpr std::array<std::uint16_t, 15> kMpeg1Layer1 = {0,   32,  64,  96,  128, 160, 192, 224,
                                                        256, 288, 320, 352, 384, 416, 448};
constexpr std::array<std::uint16_t, 15> kMpeg1Layer2 = {0,   32,  48,  56,  64,  80,  96, 112,
                                                        128, 160, 192, 224, 256, 320, 384};
constexpr std::array<std::uint16_t, 15> kMpeg1Layer3 = {0,   32,  40,  48,  56,  64,  80, 96,
                                                        112, 128, 160, 192, 224, 256, 320};
constexpr std::array<std::uint16_t, 15> kMpeg2Layer1 = {0,   32,  48,  56,  64,  80,  96, 112,
                                                        128, 144, 160, 176, 192, 224, 256};
constexpr std::array<std::uint16_t, 15> kMpeg2Layer23 = {0,  8,  16, 24,  32,  40,  48, 56,
                                                         64, 80, 96, 112, 128, 144, 160};

constexpr std::array<std::uint32_t, 3> kMpeg1Rates = {44100, 48000, 32000};
constexpr std::array<std::uint32_t, 3> kMpeg2Rates = {22050, 24000, 16000};
constexpr std::array<std::uint32_t, 3> kMpeg25Rates = {11025, 12000, 8000};

constexpr std::uint16_t kFormatMpegLayer3 = 0x55;
constexpr std::size_t kLayer3RecordSize = 30;

} // namespace

std::optional<MpegHeader> decodeMpegHeader(std::uint32_t header) {
    if ((header & 0xFFE00000u) != 0xFFE00000u) {
        return std::nullopt;
    }
    const int version = static_cast<int>((header >> 19) & 3);
    const int layerBits = static_cast<int>((header >> 17) & 3);
    const std::uint32_t bitRateIndex = (header >> 12) & 15;
    const std::uint32_t rateIndex = (header >> 10) & 3;
    if (version == 1 || layerBits == 0 || rateIndex == 3 || bitRateIndex == 15) {
        return std::nullopt;
    }
    MpegHeader h;
    h.version = version;
    h.layer = 4 - layerBits;
    h.padding = ((header >> 9) & 1) != 0;
    h.singleChannel = ((header >> 6) & 3) == 3;
    const bool mpeg1 = version == MpegHeader::Mpeg1;
    if (mpeg1) {
        h.bitRateKbps = (h.layer == 1   ? kMpeg1Layer1
                         : h.layer == 2 ? kMpeg1Layer2
                                        : kMpeg1Layer3)[bitRateIndex];
        h.sampleRate = kMpeg1Rates[rateIndex];
    } else {
        h.bitRateKbps = (h.layer == 1 ? kMpeg2Layer1 : kMpeg2Layer23)[bitRateIndex];
        h.sampleRate = (version == MpegHeader::Mpeg2 ? kMpeg2Rates : kMpeg25Rates)[rateIndex];
    }
    const std::uint32_t bitRate = h.bitRateKbps * 1000;
    const std::uint32_t pad = h.padding ? 1 : 0;
    if (h.layer == 1) {
        h.frameLength = (12 * bitRate / h.sampleRate + pad) * 4;
    } else if (h.layer == 2 || mpeg1) {
        h.frameLength = 144 * bitRate / h.sampleRate + pad;
    } else {
        h.frameLength = 72 * bitRate / h.sampleRate + pad;
    }
    return h;
}

std::vector<std::uint8_t> mpegLayer3Record(const MpegHeader& h) {
    std::vector<std::uint8_t> r(kLayer3RecordSize, 0);
    putLe16(&r[0], kFormatMpegLayer3);
    putLe16(&r[2], h.singleChannel ? 1 : 2);
    putLe32(&r[4], h.sampleRate);
    putLe32(&r[8], h.bitRateKbps / 8 * 1000);
    putLe16(&r[12], 1);
    putLe16(&r[14], 0);
    putLe16(&r[16], 12);
    putLe16(&r[18], 1);                 // identifier: MPEG
    putLe32(&r[20], h.padding ? 1 : 2); // padding on / off
    putLe16(&r[24], static_cast<std::uint16_t>(std::min<std::uint32_t>(h.frameLength, 0xFFFF)));
    putLe16(&r[26], 1); // frames per block
    putLe16(&r[28], 0); // codec delay
    return r;
}

bool parseMpeg(ByteSource& source, SourceFormat& out) {
    out = SourceFormat{};
    std::array<std::uint8_t, kWindowSize> window{};
    std::size_t length = 0;         // bytes in the window
    std::uint64_t windowOffset = 0; // file offset of window[0]

    if (!source.seek(0) || !source.readExact(window.data(), kId3HeaderSize)) {
        return false;
    }
    if (std::memcmp(window.data(), "ID3", 3) == 0) {
        const std::uint64_t tagLength =
            kId3HeaderSize + ((window[6] & 0x7Fu) << 21 | (window[7] & 0x7Fu) << 14 |
                              (window[8] & 0x7Fu) << 7 | (window[9] & 0x7Fu));
        if (tagLength >= source.size() || !source.seek(tagLength)) {
            return false;
        }
        windowOffset = tagLength;
    } else {
        length = kId3HeaderSize;
    }

    for (;;) {
        const std::size_t got = source.read(window.data() + length, kWindowSize - length);
        if (got < kHeaderSize) {
            return false;
        }
        length += got;
        for (std::size_t i = 0; i + kHeaderSize <= length; ++i) {
            if (window[i] != 0xFF || (window[i + 1] & 0xE0) != 0xE0) {
                continue;
            }
            // A candidate with reserved fields is a false sync: the search goes on after its first byte.
            const auto header = decodeMpegHeader(be32(&window[i]));
            if (!header) {
                continue;
            }
            const std::uint64_t at = windowOffset + i;
            if (!source.seek(at)) {
                return false;
            }
            out.record = mpegLayer3Record(*header);
            out.bytesLeft = source.size() - at;
            return true;
        }
        // Nothing found: keep the last bytes, which a header may still start in, and refill.
        const std::size_t keep = std::min<std::size_t>(kHeaderSize - 1, length);
        std::memmove(window.data(), window.data() + length - keep, keep);
        windowOffset += length - keep;
        length = keep;
    }
}

} // namespace tonemirror::compresscodec
