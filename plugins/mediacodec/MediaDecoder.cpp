#include "plugins/mediacodec/MediaDecoder.h"

#include "platform/wmf/TagAttributes.h"
#include "plugins/mediacodec/Attributes.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tonemirror::mediacodec {

namespace {

// Room for a media type with a plain wave format; larger descriptions (extensible formats) are
// not accepted.
constexpr std::uint32_t kMediaTypeBytes = 90;

// Copies at most 255 characters into a zeroed field of the record, never half a surrogate pair.
void copyField(char16_t (&field)[TM_STREAM_TEXT_CHARS], const std::u16string& text) {
    const std::size_t n = wholeCharacters(text, TM_STREAM_TEXT_CHARS - 1);
    std::copy_n(text.data(), n, field);
}

} // namespace

MediaDecoder::MediaDecoder(wmf::IRuntime& runtime) {
    if (failed(runtime.createSyncReader(&reader_))) {
        reader_.reset();
    }
}

MediaDecoder::~MediaDecoder() {
    close();
}

HResult MediaDecoder::open(const char16_t* path) {
    if (path == nullptr) {
        return E_INVALIDARG;
    }
    if (reader_ == nullptr) {
        return E_FAIL;
    }
    close();
    HResult r = reader_->open(path);
    if (failed(r)) {
        return r;
    }
    opened_ = true;
    r = selectOutput();
    if (failed(r)) {
        // Nothing of a refused file stays open.
        close();
    }
    return r;
}

HResult MediaDecoder::selectOutput() {
    std::uint32_t outputs = 0;
    const HResult r = reader_->getOutputCount(&outputs);
    if (failed(r)) {
        return r;
    }
    for (std::uint32_t output = 0; output < outputs; ++output) {
        wmf::WaveFormat wave{};
        if (acceptOutput(output, wave)) {
            format_.formatTag = 1;
            format_.channels = wave.channels;
            format_.sampleRate = wave.samplesPerSec;
            return selectStream(output);
        }
    }
    return E_FAIL;
}

bool MediaDecoder::acceptOutput(std::uint32_t output, wmf::WaveFormat& wave) {
    std::unique_ptr<wmf::IOutputMediaProps> props;
    if (failed(reader_->getOutputProps(output, &props)) || props == nullptr) {
        return false;
    }
    TmGuid major{};
    if (failed(props->getType(&major)) || !sameGuid(major, wmf::kMediaTypeAudio) ||
        !readPcmFormat(*props, wave)) {
        return false;
    }
    // The reader is asked for the output before its sample size and channels are judged.
    return wave.formatTag == wmf::kWaveFormatPcm && succeeded(reader_->setOutputProps(output, props.get())) &&
           wave.bitsPerSample == 16 && (wave.channels == 1 || wave.channels == 2);
}

bool MediaDecoder::readPcmFormat(wmf::IOutputMediaProps& props, wmf::WaveFormat& wave) {
    alignas(wmf::MediaType) std::uint8_t buffer[kMediaTypeBytes];
    auto* type = reinterpret_cast<wmf::MediaType*>(buffer);
    std::uint32_t size = sizeof buffer;
    if (failed(props.getMediaType(type, &size)) || size > sizeof buffer || size < sizeof(wmf::MediaType)) {
        return false;
    }
    // The format block must lie inside what was written, and hold at least a plain PCM header.
    const std::uint32_t formatRoom = size - static_cast<std::uint32_t>(sizeof(wmf::MediaType));
    if (!sameGuid(type->majorType, wmf::kMediaTypeAudio) || !sameGuid(type->subType, wmf::kSubtypePcm) ||
        !sameGuid(type->formatType, wmf::kFormatWaveFormat) || type->formatSize < 16 ||
        type->formatSize > formatRoom) {
        return false;
    }
    std::memcpy(&wave, buffer + sizeof(wmf::MediaType), std::min<std::size_t>(type->formatSize, sizeof wave));
    return true;
}

HResult MediaDecoder::selectStream(std::uint32_t output) {
    std::uint16_t stream = 0;
    HResult r = S_OK;
    if (failed(r = reader_->getStreamNumberForOutput(output, &stream))) {
        return r;
    }
    const wmf::StreamSelection on = wmf::StreamSelection::On;
    if (failed(r = reader_->setStreamsSelected(1, &stream, &on)) ||
        failed(r = reader_->setReadStreamSamples(stream, false)) || failed(r = reader_->setRange(0, 0))) {
        return r;
    }
    streamNumber_ = stream;
    return S_OK;
}

HResult MediaDecoder::close() {
    sample_.reset();
    if (opened_ && reader_ != nullptr) {
        reader_->close();
    }
    opened_ = false;
    streamNumber_ = 0;
    return S_OK;
}

HResult MediaDecoder::read(const void** data, std::uint32_t* bytes) {
    if (data == nullptr || bytes == nullptr) {
        return E_INVALIDARG;
    }
    if (reader_ == nullptr || !opened_ || streamNumber_ == 0) {
        return E_FAIL;
    }
    *data = nullptr;
    *bytes = 0;
    sample_.reset();
    std::uint64_t time = 0;
    std::uint64_t duration = 0;
    std::uint32_t flags = 0;
    std::unique_ptr<wmf::ISampleBuffer> sample;
    const HResult r = reader_->getNextSample(streamNumber_, &sample, &time, &duration, &flags);
    if (r == wmf::kNoMoreSamples) {
        return E_END_OF_STREAM;
    }
    if (failed(r)) {
        return r;
    }
    if (sample == nullptr) {
        return E_FAIL;
    }
    const std::uint8_t* buffer = nullptr;
    std::uint32_t length = 0;
    const HResult b = sample->getBufferAndLength(&buffer, &length);
    if (failed(b)) {
        return b;
    }
    sample_ = std::move(sample);
    *data = buffer;
    *bytes = buffer != nullptr ? length : 0;
    return S_OK;
}

HResult MediaDecoder::info(StreamInfo* out) {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (reader_ == nullptr || !opened_) {
        return E_FAIL;
    }
    wmf::IHeaderInfo* header = nullptr;
    if (failed(reader_->headerInfo(&header)) || header == nullptr) {
        return E_NOINTERFACE;
    }
    std::memset(out, 0, sizeof *out);
    bool learned = false;
    const std::pair<const char16_t*, char16_t(*)[TM_STREAM_TEXT_CHARS]> texts[] = {
        {wmf::kAttrTitle, &out->title}, {wmf::kAttrAuthor, &out->artist}, {wmf::kAttrAlbum, &out->album}};
    for (const auto& [name, field] : texts) {
        if (const auto text = readStringAttribute(*header, name)) {
            copyField(*field, *text);
            learned = true;
        }
    }
    if (const auto bitRate = readNumberAttribute(*header, wmf::kAttrBitrate, wmf::AttrType::Dword, 4)) {
        out->bitRate = static_cast<std::uint32_t>(*bitRate);
        learned = true;
    }
    if (const auto duration = readNumberAttribute(*header, wmf::kAttrDuration, wmf::AttrType::Qword, 8)) {
        // Beyond 49 days the milliseconds no longer fit; the largest value stands for "very long".
        out->durationMs = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(*duration / 10000u, std::numeric_limits<std::uint32_t>::max()));
        learned = true;
    }
    return learned ? S_OK : E_FAIL;
}

HResult MediaDecoder::format(StreamFormat* out) const {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (reader_ == nullptr || !opened_ || streamNumber_ == 0) {
        return E_FAIL;
    }
    *out = format_;
    return S_OK;
}

} // namespace tonemirror::mediacodec
