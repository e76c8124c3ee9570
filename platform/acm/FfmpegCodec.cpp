#include "platform/acm/FfmpegCodec.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
}

namespace tonemirror::acm {

namespace {

// Rate assumed for sizing blocks when the record names none (free-format MPEG, odd WMA records).
constexpr std::uint32_t kFallbackBytesPerSecond = 40000;
constexpr std::uint32_t kMaxMpegFrameSamples = 1152;
// Moves a context's error and warning messages down to the debug levels.
constexpr int kQuietLogOffset = AV_LOG_DEBUG - AV_LOG_ERROR;

std::uint32_t clampU32(std::uint64_t v) {
    return v > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(v);
}

// One sample of a decoded frame as a float in [-1, 1].
float sampleAt(const AVFrame& f, AVSampleFormat packed, bool planar, int channels, int ch, int i) {
    const std::uint8_t* base = planar ? f.extended_data[ch] : f.extended_data[0];
    const std::size_t idx =
        planar ? static_cast<std::size_t>(i) : static_cast<std::size_t>(i) * channels + ch;
    switch (packed) {
    case AV_SAMPLE_FMT_U8:
        return (static_cast<float>(base[idx]) - 128.0f) / 128.0f;
    case AV_SAMPLE_FMT_S16: {
        std::int16_t v;
        std::memcpy(&v, base + idx * 2, 2);
        return static_cast<float>(v) / 32768.0f;
    }
    case AV_SAMPLE_FMT_S32: {
        std::int32_t v;
        std::memcpy(&v, base + idx * 4, 4);
        return static_cast<float>(static_cast<double>(v) / 2147483648.0);
    }
    case AV_SAMPLE_FMT_S64: {
        std::int64_t v;
        std::memcpy(&v, base + idx * 8, 8);
        return static_cast<float>(static_cast<double>(v) / 9223372036854775808.0);
    }
    case AV_SAMPLE_FMT_FLT: {
        float v;
        std::memcpy(&v, base + idx * 4, 4);
        return v;
    }
    case AV_SAMPLE_FMT_DBL: {
        double v;
        std::memcpy(&v, base + idx * 8, 8);
        return static_cast<float>(v);
    }
    default:
        return 0.0f;
    }
}

std::int16_t toS16(float v) {
    if (!(v == v)) { // NaN
        return 0;
    }
    const float scaled = v * 32768.0f;
    if (scaled >= 32767.0f) {
        return 32767;
    }
    if (scaled <= -32768.0f) {
        return -32768;
    }
    return static_cast<std::int16_t>(std::lrintf(scaled));
}

} // namespace

FfmpegCodec::FfmpegCodec(const SourceRecord& record) : kind_(record.kind), format_(record.format) {}

FfmpegCodec::~FfmpegCodec() {
    if (parser_ != nullptr) {
        av_parser_close(parser_);
    }
    avcodec_free_context(&parserContext_);
    avcodec_free_context(&decoder_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
}

MmResult FfmpegCodec::create(const SourceRecord& record, std::unique_ptr<Codec>& out) {
    std::unique_ptr<FfmpegCodec> codec(new FfmpegCodec(record));
    const MmResult r = codec->open(record);
    if (r == kNoError) {
        out = std::move(codec);
    }
    return r;
}

MmResult FfmpegCodec::open(const SourceRecord& record) {
    AVCodecID id = AV_CODEC_ID_NONE;
    switch (record.format.formatTag) {
    case kFormatMpeg:
    case kFormatMpegLayer3:
        // FFmpeg's MPEG audio decoder takes frames of any layer.
        id = AV_CODEC_ID_MP3;
        break;
    case kFormatWmaV1:
        id = AV_CODEC_ID_WMAV1;
        break;
    case kFormatWmaV2:
        id = AV_CODEC_ID_WMAV2;
        break;
    default:
        return kNotPossible;
    }
    const AVCodec* codec = avcodec_find_decoder(id);
    if (codec == nullptr) {
        return kNotPossible;
    }
    decoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (decoder_ == nullptr || packet_ == nullptr || frame_ == nullptr) {
        return kNoMemory;
    }
    decoder_->sample_rate = static_cast<int>(format_.samplesPerSec);
    av_channel_layout_default(&decoder_->ch_layout, format_.channels);
    decoder_->thread_count = 1; // streams run on the caller's thread; the caller has many of them
    // Damaged frames are expected in the wild and handled here; they are not worth an error line each.
    decoder_->log_level_offset = kQuietLogOffset;
    if (kind_ == SourceKind::Wma) {
        decoder_->block_align = format_.blockAlign;
        decoder_->bit_rate = static_cast<std::int64_t>(format_.avgBytesPerSec) * 8;
        if (!record.extra.empty()) {
            decoder_->extradata =
                static_cast<std::uint8_t*>(av_mallocz(record.extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (decoder_->extradata == nullptr) {
                return kNoMemory;
            }
            std::memcpy(decoder_->extradata, record.extra.data(), record.extra.size());
            decoder_->extradata_size = static_cast<int>(record.extra.size());
        }
    } else {
        parser_ = av_parser_init(AV_CODEC_ID_MP3);
        // The parser writes what it learns into a context of its own, not into the open decoder.
        parserContext_ = avcodec_alloc_context3(nullptr);
        if (parser_ == nullptr || parserContext_ == nullptr) {
            return kNotPossible;
        }
        parserContext_->log_level_offset = kQuietLogOffset;
    }
    if (avcodec_open2(decoder_, codec, nullptr) < 0) {
        return kNotPossible;
    }
    return kNoError;
}

MmResult FfmpegCodec::feed(const std::uint8_t* source, std::uint32_t length, bool end, PcmSink& sink,
                           std::uint32_t& used) {
    used = 0;
    if (drained_ && length > 0) {
        // More data after the end of the stream: start over.
        avcodec_flush_buffers(decoder_);
        drained_ = false;
    }
    return kind_ == SourceKind::Wma ? feedWma(source, length, end, sink, used)
                                    : feedMpeg(source, length, end, sink, used);
}

MmResult FfmpegCodec::feedMpeg(const std::uint8_t* block, std::uint32_t length, bool end, PcmSink& sink,
                               std::uint32_t& used) {
    // The parser and the decoder read up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the data they are
    // given (frames may be handed on in place), so they work on a zero-padded copy of the block.
    padded_.assign(block, block + length);
    padded_.resize(static_cast<std::size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const std::uint8_t* source = padded_.data();
    while (used < length && !sink.full()) {
        std::uint8_t* frame = nullptr;
        int frameSize = 0;
        const int chunk = static_cast<int>(std::min<std::uint32_t>(length - used, INT_MAX / 2));
        const int n = av_parser_parse2(parser_, parserContext_, &frame, &frameSize, source + used, chunk,
                                       AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (n < 0) {
            return kError;
        }
        used += static_cast<std::uint32_t>(std::min(n, chunk));
        if (frameSize > 0) {
            if (const MmResult r = decode(frame, frameSize, sink); r != kNoError) {
                return r;
            }
        } else if (n == 0) {
            break;
        }
    }
    if (end && used == length && !drained_) {
        // The parser holds the last frame until it knows the stream is over.
        std::uint8_t* frame = nullptr;
        int frameSize = 0;
        av_parser_parse2(parser_, parserContext_, &frame, &frameSize, nullptr, 0, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        if (frameSize > 0) {
            if (const MmResult r = decode(frame, frameSize, sink); r != kNoError) {
                return r;
            }
        }
        if (const MmResult r = decode(nullptr, 0, sink); r != kNoError) {
            return r;
        }
        drained_ = true;
    }
    return kNoError;
}

MmResult FfmpegCodec::feedWma(const std::uint8_t* source, std::uint32_t length, bool end, PcmSink& sink,
                              std::uint32_t& used) {
    const std::uint32_t block = format_.blockAlign;
    while (length - used >= block && !sink.full()) {
        if (const MmResult r = decode(source + used, static_cast<int>(block), sink); r != kNoError) {
            return r;
        }
        used += block;
    }
    if (end && length - used < block && !drained_) {
        used = length; // an incomplete last packet cannot be decoded
        if (const MmResult r = decode(nullptr, 0, sink); r != kNoError) {
            return r;
        }
        drained_ = true;
    }
    return kNoError;
}

MmResult FfmpegCodec::decode(const std::uint8_t* data, int size, PcmSink& sink) {
    const bool lenient = kind_ == SourceKind::Mpeg;
    int sent = 0;
    if (data != nullptr) {
        av_packet_unref(packet_);
        // Copied so that the decoder finds the zero padding it may read past the end.
        if (av_new_packet(packet_, size) < 0) {
            return kNoMemory;
        }
        std::memcpy(packet_->data, data, static_cast<std::size_t>(size));
        sent = avcodec_send_packet(decoder_, packet_);
    } else {
        sent = avcodec_send_packet(decoder_, nullptr);
    }
    if (sent == AVERROR(ENOMEM)) {
        return kNoMemory;
    }
    if (sent < 0 && sent != AVERROR_EOF) {
        // MPEG streams carry junk between frames (tags, damaged frames): skip it, as players do.
        return lenient && sent == AVERROR_INVALIDDATA ? kNoError : kNotPossible;
    }
    for (;;) {
        const int got = avcodec_receive_frame(decoder_, frame_);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
            return kNoError;
        }
        if (got == AVERROR(ENOMEM)) {
            return kNoMemory;
        }
        if (got < 0) {
            return lenient && got == AVERROR_INVALIDDATA ? kNoError : kNotPossible;
        }
        const MmResult r = writeFrame(sink);
        av_frame_unref(frame_);
        if (r != kNoError) {
            return r;
        }
    }
}

MmResult FfmpegCodec::writeFrame(PcmSink& sink) {
    const AVFrame& f = *frame_;
    const int frames = f.nb_samples;
    const int inChannels = f.ch_layout.nb_channels;
    const int outChannels = format_.channels;
    if (frames <= 0 || inChannels <= 0) {
        return kNoError;
    }
    const auto fmt = static_cast<AVSampleFormat>(f.format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    const bool planar = av_sample_fmt_is_planar(fmt) != 0;
    if (packed != AV_SAMPLE_FMT_U8 && packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_S32 &&
        packed != AV_SAMPLE_FMT_S64 && packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL) {
        return kNotPossible;
    }
    scratch_.resize(static_cast<std::size_t>(frames) * outChannels);
    std::size_t k = 0;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < outChannels; ++c) {
            float v = 0.0f;
            if (inChannels == outChannels) {
                v = sampleAt(f, packed, planar, inChannels, c, i);
            } else if (outChannels == 1) {
                // A frame with more channels than the stream declared: fold it down.
                for (int s = 0; s < inChannels; ++s) {
                    v += sampleAt(f, packed, planar, inChannels, s, i);
                }
                v /= static_cast<float>(inChannels);
            } else {
                v = sampleAt(f, packed, planar, inChannels, std::min(c, inChannels - 1), i);
            }
            scratch_[k++] = toS16(v);
        }
    }
    sink.write(scratch_.data(), scratch_.size() * sizeof(std::int16_t));
    return kNoError;
}

std::uint32_t FfmpegCodec::sourceBytesPerSecond() const {
    return format_.avgBytesPerSec != 0 ? format_.avgBytesPerSec : kFallbackBytesPerSecond;
}

std::uint32_t FfmpegCodec::sourceForDestination(std::uint32_t destinationBytes) const {
    const std::uint64_t frames = destinationBytes / (2u * format_.channels);
    std::uint64_t bytes = frames * sourceBytesPerSecond() / format_.samplesPerSec;
    if (kind_ == SourceKind::Wma) {
        const std::uint32_t block = format_.blockAlign;
        bytes = std::max<std::uint64_t>(bytes / block, 1) * block;
    } else {
        // A little less than the destination holds, so that the frame the parser carries over from
        // the previous block still fits.
        bytes -= bytes / 16;
        bytes = std::max<std::uint64_t>(bytes, 1);
    }
    return clampU32(bytes);
}

std::uint32_t FfmpegCodec::destinationForSource(std::uint32_t sourceBytes) const {
    // Generous: a stream may run at half the declared rate, plus one frame carried over.
    const std::uint64_t frames =
        static_cast<std::uint64_t>(sourceBytes) * format_.samplesPerSec * 2 / sourceBytesPerSecond() +
        kMaxMpegFrameSamples;
    return clampU32(frames * 2u * format_.channels);
}

} // namespace tonemirror::acm
