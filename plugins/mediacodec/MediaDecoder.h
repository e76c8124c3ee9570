#pragma once

#include "platform/wmf/Runtime.h"
#include "plugin-api/PluginApi.h"

#include <memory>

namespace tonemirror::mediacodec {

inline constexpr std::int32_t kPriority = 100;

// IDecoder over the media runtime's synchronous reader: picks the first output the runtime offers as
// 16-bit PCM with one or two channels and hands its sample buffers on unchanged.
class MediaDecoder {
public:
    // A reader that cannot be created leaves a decoder whose Open answers E_FAIL.
    explicit MediaDecoder(wmf::IRuntime& runtime);
    ~MediaDecoder();
    MediaDecoder(const MediaDecoder&) = delete;
    MediaDecoder& operator=(const MediaDecoder&) = delete;

    HResult open(const char16_t* path);
    HResult close();
    HResult read(const void** data, std::uint32_t* bytes);
    std::int32_t priority() const { return kPriority; }
    HResult info(StreamInfo* out);
    HResult format(StreamFormat* out) const;

private:
    // Picks the first output the reader delivers as 16-bit PCM, mono or stereo.
    HResult selectOutput();
    // True when the output is audio in 16-bit PCM with one or two channels; the reader is set to it.
    bool acceptOutput(std::uint32_t output, wmf::WaveFormat& wave);
    // The output's wave format, when its media type is plain PCM in a format block that fits.
    static bool readPcmFormat(wmf::IOutputMediaProps& props, wmf::WaveFormat& wave);
    // Selects the output's stream alone, whole, in uncompressed samples.
    HResult selectStream(std::uint32_t output);

    std::unique_ptr<wmf::ISyncReader> reader_;
    std::unique_ptr<wmf::ISampleBuffer> sample_;
    bool opened_ = false;
    std::uint16_t streamNumber_ = 0;
    StreamFormat format_{};
};

} // namespace tonemirror::mediacodec
