#include "platform/acm/Acm.h"

#include "platform/acm/AcmStream.h"
#include "platform/acm/SourceRecord.h"

#include <cstring>
#include <new>

namespace tonemirror::acm {

namespace {

constexpr std::uint32_t kOpenQuery = 0x1;
constexpr std::uint32_t kOpenNonRealtime = 0x4;
constexpr std::size_t kPcmDestinationSize = 16;

// Exceptions (allocation) never leave the service.
template <class Fn>
MmResult guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (...) {
        return kError;
    }
}

// The one destination a stream produces for a source: 16-bit PCM, source channels and rate.
WaveFormatEx pcmFor(const WaveFormatEx& source) {
    WaveFormatEx d{};
    d.formatTag = kFormatPcm;
    d.channels = source.channels;
    d.samplesPerSec = source.samplesPerSec;
    d.bitsPerSample = 16;
    d.blockAlign = static_cast<std::uint16_t>(source.channels * 2u);
    d.avgBytesPerSec = d.samplesPerSec * d.blockAlign;
    d.extraSize = 0;
    return d;
}

} // namespace

MmResult formatSuggest(const void* source, std::size_t sourceSize, WaveFormatEx* destination,
                       std::size_t destinationSize, std::uint32_t flags) {
    return guarded([&]() -> MmResult {
        if ((flags & ~kSuggestAll) != 0) {
            return kInvalidFlag;
        }
        if (destination == nullptr || destinationSize < kPcmDestinationSize) {
            return kInvalidParam;
        }
        SourceRecord record;
        if (const MmResult r = describeSource(source, sourceSize, record); r != kNoError) {
            return r;
        }
        WaveFormatEx given{};
        std::memcpy(&given, destination, kPcmDestinationSize);
        const WaveFormatEx pcm = pcmFor(record.format);
        if (((flags & kSuggestFormatTag) != 0 && given.formatTag != pcm.formatTag) ||
            ((flags & kSuggestChannels) != 0 && given.channels != pcm.channels) ||
            ((flags & kSuggestSampleRate) != 0 && given.samplesPerSec != pcm.samplesPerSec) ||
            ((flags & kSuggestBitsPerSample) != 0 && given.bitsPerSample != pcm.bitsPerSample)) {
            return kNotPossible;
        }
        std::memcpy(destination, &pcm, destinationSize < sizeof(pcm) ? kPcmDestinationSize : sizeof(pcm));
        return kNoError;
    });
}

MmResult streamOpen(StreamHandle* stream, const void* source, std::size_t sourceSize,
                    const WaveFormatEx* destination, std::uint32_t flags) {
    return guarded([&]() -> MmResult {
        if ((flags & ~(kOpenQuery | kOpenNonRealtime)) != 0) {
            return kInvalidFlag;
        }
        if ((flags & kOpenQuery) == 0) {
            if (stream == nullptr) {
                return kInvalidParam;
            }
            *stream = nullptr;
        }
        if (destination == nullptr) {
            return kInvalidParam;
        }
        SourceRecord record;
        if (const MmResult r = describeSource(source, sourceSize, record); r != kNoError) {
            return r;
        }
        const WaveFormatEx pcm = pcmFor(record.format);
        if (destination->formatTag != kFormatPcm || destination->channels != pcm.channels ||
            destination->samplesPerSec != pcm.samplesPerSec || destination->bitsPerSample != 16 ||
            destination->blockAlign != pcm.blockAlign) {
            return kNotPossible;
        }
        std::unique_ptr<Codec> codec;
        if (const MmResult r = makeCodec(record, codec); r != kNoError) {
            return r;
        }
        if ((flags & kOpenQuery) != 0) {
            return kNoError;
        }
        *stream = new Stream(std::move(codec));
        return kNoError;
    });
}

MmResult streamSize(StreamHandle stream, std::uint32_t input, std::uint32_t* output, std::uint32_t flags) {
    if (stream == nullptr) {
        return kInvalidHandle;
    }
    return guarded([&] { return stream->size(input, output, flags); });
}

MmResult streamPrepareHeader(StreamHandle stream, StreamHeader* header, std::uint32_t flags) {
    if (stream == nullptr) {
        return kInvalidHandle;
    }
    if (header == nullptr || header->structSize < sizeof(StreamHeader)) {
        return kInvalidParam;
    }
    if (flags != 0) {
        return kInvalidFlag;
    }
    header->status = kHeaderPrepared;
    header->preparedFor = stream;
    return kNoError;
}

MmResult streamConvert(StreamHandle stream, StreamHeader* header, std::uint32_t flags) {
    if (stream == nullptr) {
        return kInvalidHandle;
    }
    if (header == nullptr || header->structSize < sizeof(StreamHeader)) {
        return kInvalidParam;
    }
    return guarded([&] { return stream->convert(*header, flags); });
}

MmResult streamUnprepareHeader(StreamHandle stream, StreamHeader* header, std::uint32_t flags) {
    if (stream == nullptr) {
        return kInvalidHandle;
    }
    if (header == nullptr || header->structSize < sizeof(StreamHeader)) {
        return kInvalidParam;
    }
    if (flags != 0) {
        return kInvalidFlag;
    }
    if ((header->status & kHeaderPrepared) == 0 || header->preparedFor != stream) {
        return kUnprepared;
    }
    header->status &= ~kHeaderPrepared;
    header->preparedFor = nullptr;
    return kNoError;
}

MmResult streamClose(StreamHandle stream, std::uint32_t flags) {
    if (stream == nullptr) {
        return kInvalidHandle;
    }
    if (flags != 0) {
        return kInvalidFlag;
    }
    delete stream;
    return kNoError;
}

} // namespace tonemirror::acm
