#pragma once

#include "platform/acm/Acm.h"

namespace tonemirror::compresscodec {

// The compression-manager operations the decoder calls. SystemAcm forwards to platform/acm; tests put
// a fake in its place to see how the decoder drives a codec.
class AcmApi {
public:
    virtual ~AcmApi() = default;
    virtual acm::MmResult formatSuggest(const void* source, std::size_t sourceSize,
                                        acm::WaveFormatEx* destination, std::size_t destinationSize,
                                        std::uint32_t flags) = 0;
    virtual acm::MmResult streamOpen(acm::StreamHandle* stream, const void* source, std::size_t sourceSize,
                                     const acm::WaveFormatEx* destination, std::uint32_t flags) = 0;
    virtual acm::MmResult streamSize(acm::StreamHandle stream, std::uint32_t input, std::uint32_t* output,
                                     std::uint32_t flags) = 0;
    virtual acm::MmResult prepareHeader(acm::StreamHandle stream, acm::StreamHeader* header,
                                        std::uint32_t flags) = 0;
    virtual acm::MmResult convert(acm::StreamHandle stream, acm::StreamHeader* header,
                                  std::uint32_t flags) = 0;
    virtual acm::MmResult unprepareHeader(acm::StreamHandle stream, acm::StreamHeader* header,
                                          std::uint32_t flags) = 0;
    virtual acm::MmResult streamClose(acm::StreamHandle stream, std::uint32_t flags) = 0;
};

class SystemAcm final : public AcmApi {
public:
    acm::MmResult formatSuggest(const void* source, std::size_t sourceSize, acm::WaveFormatEx* destination,
                                std::size_t destinationSize, std::uint32_t flags) override {
        return acm::formatSuggest(source, sourceSize, destination, destinationSize, flags);
    }
    acm::MmResult streamOpen(acm::StreamHandle* stream, const void* source, std::size_t sourceSize,
                             const acm::WaveFormatEx* destination, std::uint32_t flags) override {
        return acm::streamOpen(stream, source, sourceSize, destination, flags);
    }
    acm::MmResult streamSize(acm::StreamHandle stream, std::uint32_t input, std::uint32_t* output,
                             std::uint32_t flags) override {
        return acm::streamSize(stream, input, output, flags);
    }
    acm::MmResult prepareHeader(acm::StreamHandle stream, acm::StreamHeader* header,
                                std::uint32_t flags) override {
        return acm::streamPrepareHeader(stream, header, flags);
    }
    acm::MmResult convert(acm::StreamHandle stream, acm::StreamHeader* header, std::uint32_t flags) override {
        return acm::streamConvert(stream, header, flags);
    }
    acm::MmResult unprepareHeader(acm::StreamHandle stream, acm::StreamHeader* header,
                                  std::uint32_t flags) override {
        return acm::streamUnprepareHeader(stream, header, flags);
    }
    acm::MmResult streamClose(acm::StreamHandle stream, std::uint32_t flags) override {
        return acm::streamClose(stream, flags);
    }
};

} // namespace tonemirror::compresscodec
