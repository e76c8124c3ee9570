#include "plugins/compresscodec/CompressDecoder.h"

#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "plugins/compresscodec/AsfParser.h"
#include "plugins/compresscodec/Id3Tags.h"
#include "plugins/compresscodec/MpegParser.h"
#include "plugins/compresscodec/WaveParser.h"

#include <algorithm>
#include <cstring>

namespace tonemirror::compresscodec {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// A block never needs more than this: compressed audio is far denser than the PCM it becomes, and
// the compression manager's answer is derived from fields read from the file.
constexpr std::uint32_t kMaxInputBytes = 8u << 20;
constexpr std::uint32_t kMaxOutputBytes = 16u << 20;

enum class Container { None, Mpeg, Asf };

Container containerByExtension(std::u16string_view name) {
    if (name.size() < 4) {
        return Container::None;
    }
    std::u16string ext(name.substr(name.size() - 4));
    os::lowerCaseInPlace(ext);
    if (ext == u".mp1" || ext == u".mp2" || ext == u".mp3") {
        return Container::Mpeg;
    }
    if (ext == u".wma" || ext == u".asf") {
        return Container::Asf;
    }
    return Container::None;
}

void copyText(char16_t (&target)[TM_STREAM_TEXT_CHARS], const std::u16string& text) {
    const std::size_t n = std::min<std::size_t>(text.size(), TM_STREAM_TEXT_CHARS - 1);
    std::copy_n(text.begin(), n, target);
    target[n] = u'\0';
}

} // namespace

CompressDecoder::CompressDecoder() : CompressDecoder(std::make_unique<SystemAcm>()) {}

CompressDecoder::CompressDecoder(std::unique_ptr<AcmApi> acm) : acm_(std::move(acm)) {}

CompressDecoder::~CompressDecoder() {
    close();
}

HResult CompressDecoder::open(const char16_t* path) {
    if (path == nullptr) {
        return E_INVALIDARG;
    }
    close();
    const std::u16string_view name(path);
    auto file = std::make_unique<FileByteSource>();
    if (!file->open(os::toNativePath(name))) {
        return E_FAIL;
    }
    return openSource(std::move(file), name);
}

HResult CompressDecoder::openSource(std::unique_ptr<ByteSource> source, std::u16string_view name) {
    close();
    if (source == nullptr) {
        return E_INVALIDARG;
    }
    file_ = std::move(source);
    std::uint8_t magic[4];
    bool parsed = false;
    SourceFormat found;
    if (file_->seek(0) && file_->readExact(magic, sizeof(magic))) {
        if (std::memcmp(magic, "RIFF", 4) == 0) {
            parsed = parseWave(*file_, found);
        } else {
            switch (containerByExtension(name)) {
            case Container::Mpeg:
                parsed = parseMpeg(*file_, found);
                break;
            case Container::Asf:
                parsed = parseAsf(*file_, found);
                break;
            case Container::None:
                break;
            }
        }
    }
    if (!parsed || failed(accept(found))) {
        close();
        return E_FAIL;
    }
    return S_OK;
}

HResult CompressDecoder::accept(const SourceFormat& source) {
    if (!source.valid()) {
        return E_FAIL;
    }
    const std::uint16_t channels = source.channels();
    const std::uint16_t tag = source.formatTag();
    const bool pcm = tag == kFormatPcm || tag == kFormatExtensible;
    // PCM must already be 16-bit; compressed sources declare no sample width and are asked for
    // 16-bit PCM output instead.
    if ((pcm && source.bitsPerSample() != 16) || channels < 1 || channels > 2) {
        return E_FAIL;
    }
    record_ = source.record;
    format_ = StreamFormat{1, channels, source.samplesPerSec()};

    acm::WaveFormatEx destination{};
    destination.formatTag = kFormatPcm;
    destination.channels = channels;
    destination.samplesPerSec = source.samplesPerSec();
    destination.bitsPerSample = 16;
    if (acm_->formatSuggest(record_.data(), record_.size(), &destination, sizeof(destination),
                            acm::kSuggestAll) != acm::kNoError) {
        return E_FAIL;
    }

    info_ = StreamInfo{};
    const std::uint64_t bitRate =
        std::min<std::uint64_t>(std::uint64_t{source.avgBytesPerSec()} * 8, UINT32_MAX);
    info_.bitRate = static_cast<std::uint32_t>(bitRate);
    if (bitRate != 0) {
        info_.durationMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(
            file_->size() / bitRate * 8000 + file_->size() % bitRate * 8000 / bitRate, UINT32_MAX));
    }

    if (acm_->streamOpen(&stream_, record_.data(), record_.size(), &destination, 0) != acm::kNoError ||
        stream_ == nullptr) {
        stream_ = nullptr;
        return E_FAIL;
    }
    const std::uint32_t outputSize = destination.avgBytesPerSec;
    std::uint32_t inputSize = 0;
    if (outputSize == 0 || outputSize > kMaxOutputBytes ||
        acm_->streamSize(stream_, outputSize, &inputSize, acm::kSizeFromDestination) != acm::kNoError ||
        inputSize == 0) {
        return E_FAIL;
    }
    output_.resize(outputSize);
    input_.resize(std::min(inputSize, kMaxInputBytes));
    bytesLeft_ = source.bytesLeft;

    TagTexts tags;
    if (readTags(*file_, tags)) {
        copyText(info_.title, tags.title);
        copyText(info_.artist, tags.artist);
        copyText(info_.album, tags.album);
    }
    return S_OK;
}

HResult CompressDecoder::close() {
    if (stream_ != nullptr) {
        acm_->streamClose(stream_, 0);
        stream_ = nullptr;
    }
    file_.reset();
    input_.clear();
    output_.clear();
    bytesLeft_ = 0;
    return S_OK;
}

HResult CompressDecoder::convertBlock(std::uint32_t length, std::uint32_t flags, std::uint32_t& used,
                                      std::uint32_t& produced) {
    acm::StreamHeader header;
    header.source = input_.data();
    header.sourceLength = length;
    header.destination = output_.data();
    header.destinationLength = static_cast<std::uint32_t>(output_.size());
    if (acm_->prepareHeader(stream_, &header, 0) != acm::kNoError) {
        return E_FAIL;
    }
    const acm::MmResult converted = acm_->convert(stream_, &header, flags);
    const acm::MmResult released = acm_->unprepareHeader(stream_, &header, 0);
    if (converted != acm::kNoError || released != acm::kNoError) {
        return E_FAIL;
    }
    used = std::min(header.sourceLengthUsed, length);
    produced = std::min(header.destinationLengthUsed, header.destinationLength);
    return S_OK;
}

HResult CompressDecoder::read(const void** data, std::uint32_t* bytes) {
    if (data == nullptr || bytes == nullptr) {
        return E_INVALIDARG;
    }
    *data = nullptr;
    *bytes = 0;
    if (file_ == nullptr || stream_ == nullptr || input_.empty()) {
        return E_FAIL;
    }
    std::uint32_t used = 0;
    std::uint32_t produced = 0;
    if (bytesLeft_ == 0) {
        // The codec may still hold the end of the stream (a last frame, PCM that did not fit).
        if (failed(convertBlock(0, acm::kConvertEnd, used, produced)) || produced == 0) {
            close();
            return E_END_OF_STREAM;
        }
        *data = output_.data();
        *bytes = produced;
        return S_OK;
    }

    const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytesLeft_, input_.size()));
    const std::uint64_t start = file_->position();
    const auto got = static_cast<std::uint32_t>(file_->read(input_.data(), wanted));
    if (got == 0) {
        return E_FAIL;
    }
    bytesLeft_ -= got;
    const std::uint32_t flags = bytesLeft_ == 0 ? acm::kConvertEnd : 0;
    if (failed(convertBlock(got, flags, used, produced))) {
        return E_FAIL;
    }
    if (used == 0 && produced == 0) {
        // The codec took nothing and gave nothing: offering the block again would never end.
        return E_FAIL;
    }
    if (used < got) {
        // Unused bytes come again at the front of the next block.
        if (!file_->seek(start + used)) {
            return E_FAIL;
        }
        bytesLeft_ += got - used;
    }
    *data = output_.data();
    *bytes = produced;
    return S_OK;
}

HResult CompressDecoder::info(StreamInfo* out) const {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (file_ == nullptr) {
        return E_FAIL;
    }
    *out = info_;
    return S_OK;
}

HResult CompressDecoder::format(StreamFormat* out) const {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (file_ == nullptr || stream_ == nullptr || input_.empty()) {
        return E_FAIL;
    }
    *out = format_;
    return S_OK;
}

} // namespace tonemirror::compresscodec
