#include "platform/acm/AcmStream.h"

#include "platform/acm/FfmpegCodec.h"

#include <algorithm>
#include <cstring>

namespace tonemirror::acm {

void PcmSink::write(const void* data, std::size_t bytes) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::size_t direct = std::min<std::size_t>(bytes, space());
    if (direct > 0) {
        std::memcpy(destination_ + produced_, p, direct);
        produced_ += static_cast<std::uint32_t>(direct);
    }
    overflow_.insert(overflow_.end(), p + direct, p + bytes);
}

namespace {

// 16-bit PCM in, the same out: whole frames are copied.
class PcmCodec final : public Codec {
public:
    explicit PcmCodec(std::uint32_t blockAlign) : blockAlign_(blockAlign) {}

    MmResult feed(const std::uint8_t* source, std::uint32_t length, bool end, PcmSink& sink,
                  std::uint32_t& used) override {
        const std::uint32_t frames = std::min(length / blockAlign_, sink.space() / blockAlign_);
        used = frames * blockAlign_;
        sink.write(source, used);
        // A trailing piece shorter than a frame can never convert: the last block drops it.
        if (end && length - used < blockAlign_) {
            used = length;
        }
        return kNoError;
    }
    std::uint32_t sourceForDestination(std::uint32_t bytes) const override {
        return bytes / blockAlign_ * blockAlign_;
    }
    std::uint32_t destinationForSource(std::uint32_t bytes) const override {
        return bytes / blockAlign_ * blockAlign_;
    }

private:
    std::uint32_t blockAlign_;
};

} // namespace

MmResult makeCodec(const SourceRecord& record, std::unique_ptr<Codec>& out) {
    if (record.kind == SourceKind::Pcm) {
        out = std::make_unique<PcmCodec>(record.format.blockAlign);
        return kNoError;
    }
    return FfmpegCodec::create(record, out);
}

MmResult Stream::size(std::uint32_t input, std::uint32_t* output, std::uint32_t flags) const {
    if (output == nullptr) {
        return kInvalidParam;
    }
    switch (flags) {
    case kSizeFromDestination:
        *output = codec_->sourceForDestination(input);
        return kNoError;
    case kSizeFromSource:
        *output = codec_->destinationForSource(input);
        return kNoError;
    default:
        return kInvalidFlag;
    }
}

MmResult Stream::convert(StreamHeader& header, std::uint32_t flags) {
    if ((flags & ~(kConvertBlockAlign | kConvertStart | kConvertEnd)) != 0) {
        return kInvalidFlag;
    }
    if ((header.status & kHeaderPrepared) == 0 || header.preparedFor != this) {
        return kUnprepared;
    }
    if ((header.source == nullptr && header.sourceLength > 0) ||
        (header.destination == nullptr && header.destinationLength > 0)) {
        return kInvalidParam;
    }
    header.status &= ~kHeaderDone;
    header.sourceLengthUsed = 0;
    header.destinationLengthUsed = 0;

    // PCM held back from the previous block goes out first, in order.
    std::vector<std::uint8_t> overflow;
    PcmSink sink(header.destination, header.destinationLength, overflow);
    const std::size_t fromHeld = std::min<std::size_t>(held_.size(), header.destinationLength);
    sink.write(held_.data(), fromHeld);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(fromHeld));

    std::uint32_t used = 0;
    if (held_.empty()) {
        const MmResult r =
            codec_->feed(header.source, header.sourceLength, (flags & kConvertEnd) != 0, sink, used);
        if (r != kNoError) {
            return r;
        }
    }
    held_.insert(held_.end(), overflow.begin(), overflow.end());
    header.sourceLengthUsed = std::min(used, header.sourceLength);
    header.destinationLengthUsed = sink.produced();
    header.status |= kHeaderDone;
    return kNoError;
}

} // namespace tonemirror::acm
