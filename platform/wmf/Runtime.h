#pragma once

// The media runtime the mediacodec plug-in works over: a synchronous reader that offers each stream of
// a file as an output with a media type and delivers uncompressed samples, named file-level attributes,
// and a metadata editor that writes changed attributes back. The plug-in only sees these interfaces,
// so tests can hand it a runtime of their own.

#include "plugin-api/PluginApi.h"

#include <cstdint>
#include <memory>

namespace tonemirror::wmf {

// Results of the runtime besides the generic ones of PluginApi.h.
inline constexpr HResult kNoMoreSamples = static_cast<HResult>(0xC00D0BCFu);
// The caller's buffer is too small; the length argument holds the size needed.
inline constexpr HResult kBufferTooSmall = static_cast<HResult>(0x8007007Au);
// An output format other than the one offered was requested.
inline constexpr HResult kInvalidOutputFormat = static_cast<HResult>(0xC00D0B69u);
// The file on disk is no longer the one that was opened.
inline constexpr HResult kFileChanged = E_FILE_CHANGED;

// Type identifiers of media types.
inline constexpr TmGuid kMediaTypeAudio = {
    0x73647561u, 0x0000u, 0x0010u, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TmGuid kMediaTypeVideo = {
    0x73646976u, 0x0000u, 0x0010u, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TmGuid kMediaTypeOther = {0x00000000u, 0x0000u, 0x0000u, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr TmGuid kSubtypePcm = {
    0x00000001u, 0x0000u, 0x0010u, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// Any audio the runtime cannot hand out as PCM.
inline constexpr TmGuid kSubtypeCompressed = {
    0x00000000u, 0x0000u, 0x0010u, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TmGuid kFormatWaveFormat = {
    0x05589F81u, 0xC356u, 0x11CEu, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr TmGuid kFormatNone = {
    0x0F6417D6u, 0xC318u, 0x11D0u, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

#pragma pack(push, 1)
// Wave format header as it follows a media type; extensible formats carry `extraSize` more bytes.
struct WaveFormat {
    std::uint16_t formatTag;
    std::uint16_t channels;
    std::uint32_t samplesPerSec;
    std::uint32_t avgBytesPerSec;
    std::uint16_t blockAlign;
    std::uint16_t bitsPerSample;
    std::uint16_t extraSize;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18);

// Description of an output's media type. getMediaType writes it followed by its format block into
// one caller buffer; `format` points into that buffer.
struct MediaType {
    TmGuid majorType;
    TmGuid subType;
    std::uint32_t fixedSizeSamples;
    std::uint32_t sampleSize;
    TmGuid formatType;
    std::uint32_t formatSize;
    const std::uint8_t* format;
};

enum class AttrType : std::uint32_t { Dword = 0, String = 1, Binary = 2, Bool = 3, Qword = 4, Word = 5 };

// Stream selection of ISyncReader::setStreamsSelected.
enum class StreamSelection : std::uint32_t { Off = 0, CleanPointsOnly = 1, On = 2 };

class IOutputMediaProps {
public:
    virtual ~IOutputMediaProps() = default;
    virtual HResult getType(TmGuid* majorType) = 0;
    // Writes the media type and its format block into `buffer` of *size bytes (aligned for MediaType).
    // With a null buffer, or one too small (kBufferTooSmall), *size receives the size needed.
    virtual HResult getMediaType(MediaType* buffer, std::uint32_t* size) = 0;
};

// One block of samples; the bytes live as long as the object.
class ISampleBuffer {
public:
    virtual ~ISampleBuffer() = default;
    virtual HResult getBufferAndLength(const std::uint8_t** data, std::uint32_t* length) = 0;
};

// Named attributes of a file; stream 0 is the file level. Strings are UTF-16LE; their length counts
// bytes and may include a terminating NUL.
class IHeaderInfo {
public:
    virtual ~IHeaderInfo() = default;
    // With a null value only *length is set to the size needed; a value buffer smaller than the
    // attribute gives kBufferTooSmall and the size needed. An absent attribute is a failure.
    virtual HResult getAttributeByName(std::uint16_t* streamNumber, const char16_t* name, AttrType* type,
                                       std::uint8_t* value, std::uint16_t* length) = 0;
    virtual HResult setAttribute(std::uint16_t streamNumber, const char16_t* name, AttrType type,
                                 const std::uint8_t* value, std::uint16_t length) = 0;
};

class ISyncReader {
public:
    virtual ~ISyncReader() = default;
    virtual HResult open(const char16_t* path) = 0;
    virtual HResult close() = 0;
    virtual HResult getOutputCount(std::uint32_t* count) = 0;
    virtual HResult getOutputProps(std::uint32_t output, std::unique_ptr<IOutputMediaProps>* props) = 0;
    // Only the format the runtime offers for the output is accepted (kInvalidOutputFormat otherwise).
    virtual HResult setOutputProps(std::uint32_t output, IOutputMediaProps* props) = 0;
    virtual HResult getStreamNumberForOutput(std::uint32_t output, std::uint16_t* streamNumber) = 0;
    virtual HResult setStreamsSelected(std::uint16_t count, const std::uint16_t* streamNumbers,
                                       const StreamSelection* selections) = 0;
    virtual HResult setReadStreamSamples(std::uint16_t streamNumber, bool compressed) = 0;
    // Start and duration in 100 ns units; duration 0 reads to the end.
    virtual HResult setRange(std::uint64_t start, std::int64_t duration) = 0;
    // Next sample of the given stream; kNoMoreSamples at the end.
    virtual HResult getNextSample(std::uint16_t streamNumber, std::unique_ptr<ISampleBuffer>* sample,
                                  std::uint64_t* time, std::uint64_t* duration, std::uint32_t* flags) = 0;
    // Attributes of the open file; the object belongs to the reader and lives until close.
    virtual HResult headerInfo(IHeaderInfo** info) = 0;
};

class IMetadataEditor {
public:
    virtual ~IMetadataEditor() = default;
    virtual HResult open(const char16_t* path) = 0;
    // Drops any change and closes.
    virtual HResult close() = 0;
    // Writes the changes to the file and closes. A failure leaves the file as it was.
    virtual HResult flush() = 0;
    // Attributes of the open file; the object belongs to the editor and lives until close or flush.
    virtual HResult headerInfo(IHeaderInfo** info) = 0;
};

// Creates readers and editors. Distinct objects may be used on different threads at once.
class IRuntime {
public:
    virtual ~IRuntime() = default;
    virtual HResult createSyncReader(std::unique_ptr<ISyncReader>* reader) = 0;
    virtual HResult createEditor(std::unique_ptr<IMetadataEditor>* editor) = 0;
};

} // namespace tonemirror::wmf
