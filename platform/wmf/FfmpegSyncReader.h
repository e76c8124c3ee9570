#pragma once

#include "platform/wmf/AttributeStore.h"
#include "platform/wmf/Runtime.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct SwrContext;
struct AVPacket;
struct AVFrame;
struct AVStream;
struct AVRational;

namespace tonemirror::wmf {

// Synchronous reader over the FFmpeg libraries. Every stream of the file is an output; an audio
// stream FFmpeg can decode is offered as 16-bit PCM at its own rate with 1 or 2 channels (more are
// mixed down). Opening and every read are bounded in time and in how much is probed.
class FfmpegSyncReader final : public ISyncReader {
public:
    FfmpegSyncReader();
    ~FfmpegSyncReader() override;
    FfmpegSyncReader(const FfmpegSyncReader&) = delete;
    FfmpegSyncReader& operator=(const FfmpegSyncReader&) = delete;

    HResult open(const char16_t* path) override;
    HResult close() override;
    HResult getOutputCount(std::uint32_t* count) override;
    HResult getOutputProps(std::uint32_t output, std::unique_ptr<IOutputMediaProps>* props) override;
    HResult setOutputProps(std::uint32_t output, IOutputMediaProps* props) override;
    HResult getStreamNumberForOutput(std::uint32_t output, std::uint16_t* streamNumber) override;
    HResult setStreamsSelected(std::uint16_t count, const std::uint16_t* streamNumbers,
                               const StreamSelection* selections) override;
    HResult setReadStreamSamples(std::uint16_t streamNumber, bool compressed) override;
    HResult setRange(std::uint64_t start, std::int64_t duration) override;
    HResult getNextSample(std::uint16_t streamNumber, std::unique_ptr<ISampleBuffer>* sample,
                          std::uint64_t* time, std::uint64_t* duration, std::uint32_t* flags) override;
    HResult headerInfo(IHeaderInfo** info) override;

    // Longest time one open or one read may take before FFmpeg is interrupted.
    static constexpr std::chrono::seconds kDeadline{15};

private:
    struct Output {
        int streamIndex = 0;
        TmGuid majorType{};
        bool decodable = false;
        std::uint16_t channels = 0;
        std::uint32_t sampleRate = 0;
    };

    static int interruptCallback(void* self);
    void startDeadline() { deadline_ = std::chrono::steady_clock::now() + kDeadline; }
    std::vector<std::uint8_t> offeredMediaType(const Output& output) const;
    // Opens the file's container within the probe limits and reads its stream list.
    HResult openContainer(const std::filesystem::path& native);
    static Output describeStream(const AVStream& stream, int index);
    HResult openDecoder(const Output& output);
    void closeDecoder();
    // Converts frame_ into out; false when the frame cannot be converted.
    bool convertFrame(std::vector<std::uint8_t>& out);
    // Converts and releases frame_; `at` and `length` are its time and duration in 100 ns units.
    bool takeFrame(AVRational timeBase, std::vector<std::uint8_t>& data, std::int64_t& at,
                   std::int64_t& length);
    // Reads the next packet of the file and hands it to the decoder; E_FAIL when the read timed out
    // or too many packets in a row were damaged.
    HResult feedDecoder(AVRational timeBase);
    // No more packets: the decoder is told to give up what it holds.
    void endInput();

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    std::vector<Output> outputs_;
    const Output* selected_ = nullptr;
    const Output* decoding_ = nullptr;
    // What the resampler was set up for.
    int resamplerFormat_ = -1;
    int resamplerRate_ = 0;
    std::uint64_t resamplerLayoutMask_ = 0;
    int resamplerChannels_ = 0;
    bool inputDone_ = false;
    bool started_ = false;
    std::int64_t rangeEnd_ = 0; // 100 ns units, 0 = no end
    int badPackets_ = 0;
    std::chrono::steady_clock::time_point deadline_{};
    std::filesystem::path path_;
    std::unique_ptr<AttributeStore> header_;
};

} // namespace tonemirror::wmf
