#include "platform/acm/SourceRecord.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tonemirror::acm {

namespace {

// KSDATAFORMAT_SUBTYPE_PCM in its stored byte order.
constexpr std::uint8_t kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::size_t kPcmRecordSize = 16; // a plain PCM record may omit the extra-size field
constexpr std::size_t kExtensibleExtra = 22;

bool isPcm16(const WaveFormatEx& f) {
    return f.bitsPerSample == 16 && f.blockAlign == f.channels * 2u;
}

} // namespace

MmResult describeSource(const void* source, std::size_t size, SourceRecord& out) {
    if (source == nullptr || size < kPcmRecordSize) {
        return kInvalidParam;
    }
    out = SourceRecord{};
    std::memcpy(&out.format, source, size < sizeof(WaveFormatEx) ? size : sizeof(WaveFormatEx));
    const auto& f = out.format;
    if (f.formatTag != kFormatPcm && size < sizeof(WaveFormatEx)) {
        return kInvalidParam;
    }
    if (f.channels == 0 || f.channels > kMaxChannels || f.samplesPerSec == 0 ||
        f.samplesPerSec > kMaxSampleRate) {
        return kNotPossible;
    }
    if (f.formatTag != kFormatPcm) {
        // The extra bytes are what the record says, but never more than the caller gave.
        const std::size_t available = size - sizeof(WaveFormatEx);
        const std::size_t extra = f.extraSize < available ? f.extraSize : available;
        const auto* bytes = static_cast<const std::uint8_t*>(source) + sizeof(WaveFormatEx);
        out.extra.assign(bytes, bytes + extra);
    }

    switch (f.formatTag) {
    case kFormatPcm:
        out.kind = SourceKind::Pcm;
        return isPcm16(f) ? kNoError : kNotPossible;
    case kFormatExtensible:
        out.kind = SourceKind::Pcm;
        if (out.extra.size() < kExtensibleExtra || !isPcm16(f) ||
            std::memcmp(out.extra.data() + 6, kSubtypePcm, sizeof(kSubtypePcm)) != 0) {
            return kNotPossible;
        }
        return kNoError;
    case kFormatMpeg:
    case kFormatMpegLayer3:
        out.kind = SourceKind::Mpeg;
        if (f.channels > 2 || avcodec_find_decoder(AV_CODEC_ID_MP3) == nullptr) {
            return kNotPossible;
        }
        return kNoError;
    case kFormatWmaV1:
    case kFormatWmaV2:
        out.kind = SourceKind::Wma;
        if (f.channels > 2 || f.blockAlign == 0 ||
            avcodec_find_decoder(f.formatTag == kFormatWmaV1 ? AV_CODEC_ID_WMAV1 : AV_CODEC_ID_WMAV2) ==
                nullptr) {
            return kNotPossible;
        }
        return kNoError;
    default:
        return kNotPossible;
    }
}

} // namespace tonemirror::acm
