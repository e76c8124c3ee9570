#pragma once

#include "plugin-api/PluginApi.h"
#include "plugins/compresscodec/AcmApi.h"
#include "plugins/compresscodec/ByteSource.h"
#include "plugins/compresscodec/SourceFormat.h"

#include <memory>
#include <string_view>
#include <vector>

namespace tonemirror::compresscodec {

// Decoder for RIFF/WAVE files and, chosen by extension, MPEG audio (".mp1" to ".mp3") and ASF
// (".wma", ".asf") files: the plug-in parses the container and hands the audio to the compression
// manager, which converts it to 16-bit PCM one block (one second of output) at a time.
class CompressDecoder {
public:
    static constexpr std::int32_t kPriority = 99;

    CompressDecoder();
    explicit CompressDecoder(std::unique_ptr<AcmApi> acm);
    ~CompressDecoder();
    CompressDecoder(const CompressDecoder&) = delete;
    CompressDecoder& operator=(const CompressDecoder&) = delete;

    // IDecoder slots (see plugin-api/PluginApi.h).
    HResult open(const char16_t* path);
    HResult close();
    HResult read(const void** data, std::uint32_t* bytes);
    std::int32_t priority() const { return kPriority; }
    HResult info(StreamInfo* out) const;
    HResult format(StreamFormat* out) const;

    // Open over any byte source; name stands for the path in the extension rule.
    HResult openSource(std::unique_ptr<ByteSource> source, std::u16string_view name);

private:
    HResult accept(const SourceFormat& source);
    HResult convertBlock(std::uint32_t length, std::uint32_t flags, std::uint32_t& used,
                         std::uint32_t& produced);

    std::unique_ptr<AcmApi> acm_;
    std::unique_ptr<ByteSource> file_;
    acm::StreamHandle stream_ = nullptr;
    std::uint64_t bytesLeft_ = 0;
    std::vector<std::uint8_t> record_;
    std::vector<std::uint8_t> input_;
    std::vector<std::uint8_t> output_;
    StreamFormat format_{};
    StreamInfo info_{};
};

} // namespace tonemirror::compresscodec
