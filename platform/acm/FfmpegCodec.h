#pragma once

#include "platform/acm/AcmStream.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVPacket;
struct AVFrame;

namespace tonemirror::acm {

// MPEG audio (frames split by the MPEG audio parser, damaged frames skipped) and WMA (packets of one
// block alignment each, any decoding error fails the conversion) over FFmpeg's decoders.
class FfmpegCodec final : public Codec {
public:
    static MmResult create(const SourceRecord& record, std::unique_ptr<Codec>& out);
    ~FfmpegCodec() override;
    FfmpegCodec(const FfmpegCodec&) = delete;
    FfmpegCodec& operator=(const FfmpegCodec&) = delete;

    MmResult feed(const std::uint8_t* source, std::uint32_t length, bool end, PcmSink& sink,
                  std::uint32_t& used) override;
    std::uint32_t sourceForDestination(std::uint32_t destinationBytes) const override;
    std::uint32_t destinationForSource(std::uint32_t sourceBytes) const override;

private:
    explicit FfmpegCodec(const SourceRecord& record);
    MmResult open(const SourceRecord& record);
    MmResult feedMpeg(const std::uint8_t* source, std::uint32_t length, bool end, PcmSink& sink,
                      std::uint32_t& used);
    MmResult feedWma(const std::uint8_t* source, std::uint32_t length, bool end, PcmSink& sink,
                     std::uint32_t& used);
    // Sends one packet (null: end of stream) and writes every frame it yields.
    MmResult decode(const std::uint8_t* data, int size, PcmSink& sink);
    MmResult writeFrame(PcmSink& sink);
    std::uint32_t sourceBytesPerSecond() const;

    SourceKind kind_;
    WaveFormatEx format_;
    AVCodecContext* decoder_ = nullptr;
    AVCodecContext* parserContext_ = nullptr;
    AVCodecParserContext* parser_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    bool drained_ = false;
    std::vector<std::int16_t> scratch_;
    std::vector<std::uint8_t> padded_;
};

} // namespace tonemirror::acm
