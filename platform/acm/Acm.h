#pragma once

// Audio Compression Manager: converts compressed or PCM audio blocks into 16-bit interleaved PCM
// with the source's channels and rate. The operations keep the meaning of the platform service the
// plug-in was written against: a format suggestion completes a PCM destination for a source, a stream
// converts whole blocks and reports how much of each block it used and how much PCM it produced.
//
// Streams are independent objects; distinct streams may be used on different threads at once.
// Decoded PCM that does not fit a destination stays inside the stream and comes out first with the
// next conversion, so nothing is lost between blocks.

#include <cstddef>
#include <cstdint>

namespace tonemirror::acm {

using MmResult = std::uint32_t;

inline constexpr MmResult kNoError = 0;
inline constexpr MmResult kError = 1;
inline constexpr MmResult kInvalidHandle = 5;
inline constexpr MmResult kNoMemory = 7;
inline constexpr MmResult kInvalidFlag = 10;
inline constexpr MmResult kInvalidParam = 11;
inline constexpr MmResult kNotPossible = 512;
inline constexpr MmResult kUnprepared = 514;

inline constexpr std::uint16_t kFormatPcm = 0x0001;
inline constexpr std::uint16_t kFormatMpeg = 0x0050;
inline constexpr std::uint16_t kFormatMpegLayer3 = 0x0055;
inline constexpr std::uint16_t kFormatWmaV1 = 0x0160;
inline constexpr std::uint16_t kFormatWmaV2 = 0x0161;
inline constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// Format suggestion: which destination fields are demanded as given.
inline constexpr std::uint32_t kSuggestFormatTag = 0x00010000;
inline constexpr std::uint32_t kSuggestChannels = 0x00020000;
inline constexpr std::uint32_t kSuggestSampleRate = 0x00040000;
inline constexpr std::uint32_t kSuggestBitsPerSample = 0x00080000;
inline constexpr std::uint32_t kSuggestAll = 0x000F0000;

// Stream size: the count given is a source size (answer: destination size) or a destination size
// (answer: the source size whose output fits it).
inline constexpr std::uint32_t kSizeFromSource = 0x0;
inline constexpr std::uint32_t kSizeFromDestination = 0x1;

// Conversion: kConvertEnd marks the last block of the stream; the stream then flushes what its
// codec still holds (a trailing incomplete frame is dropped).
inline constexpr std::uint32_t kConvertBlockAlign = 0x04;
inline constexpr std::uint32_t kConvertStart = 0x10;
inline constexpr std::uint32_t kConvertEnd = 0x20;

// Conversion header status bits.
inline constexpr std::uint32_t kHeaderDone = 0x00010000;
inline constexpr std::uint32_t kHeaderPrepared = 0x00020000;

#pragma pack(push, 1)
// WAVEFORMATEX-shaped record, little-endian as stored in files. Format-specific extra bytes follow.
struct WaveFormatEx {
    std::uint16_t formatTag;
    std::uint16_t channels;
    std::uint32_t samplesPerSec;
    std::uint32_t avgBytesPerSec;
    std::uint16_t blockAlign;
    std::uint16_t bitsPerSample;
    std::uint16_t extraSize;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18);

// One conversion: the caller names a source block and a destination block; after streamConvert the
// header tells how many source bytes were used and how many destination bytes were produced.
struct StreamHeader {
    std::uint32_t structSize = sizeof(StreamHeader);
    std::uint32_t status = 0;
    const std::uint8_t* source = nullptr;
    std::uint32_t sourceLength = 0;
    std::uint32_t sourceLengthUsed = 0;
    std::uint8_t* destination = nullptr;
    std::uint32_t destinationLength = 0;
    std::uint32_t destinationLengthUsed = 0;
    const void* preparedFor = nullptr; // stream that prepared the header; set by the stream
};

class Stream;
using StreamHandle = Stream*;

// Sample rates and channel counts a stream accepts (bounds the memory a stream may ask for).
inline constexpr std::uint32_t kMaxSampleRate = 768000;
inline constexpr std::uint16_t kMaxChannels = 8;

// Completes a 16-bit PCM destination for the source record (source: record bytes, sourceSize: their
// count). Fields demanded by flags must already hold the only values the stream can produce: PCM,
// the source's channels and rate, 16 bits. kNoError, or kNotPossible for a source that cannot be
// decoded, kInvalidParam for null or short records.
MmResult formatSuggest(const void* source, std::size_t sourceSize, WaveFormatEx* destination,
                       std::size_t destinationSize, std::uint32_t flags);

// Opens a conversion stream from the source record to the destination (as formatSuggest completes it).
MmResult streamOpen(StreamHandle* stream, const void* source, std::size_t sourceSize,
                    const WaveFormatEx* destination, std::uint32_t flags);

// Source size for a destination size (kSizeFromDestination) or the reverse (kSizeFromSource).
MmResult streamSize(StreamHandle stream, std::uint32_t input, std::uint32_t* output, std::uint32_t flags);

MmResult streamPrepareHeader(StreamHandle stream, StreamHeader* header, std::uint32_t flags);
MmResult streamConvert(StreamHandle stream, StreamHeader* header, std::uint32_t flags);
MmResult streamUnprepareHeader(StreamHandle stream, StreamHeader* header, std::uint32_t flags);

// Frees the stream; a null stream gives kInvalidHandle.
MmResult streamClose(StreamHandle stream, std::uint32_t flags);

} // namespace tonemirror::acm
