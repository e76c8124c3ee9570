#pragma once

// A decoder that serves prepared PCM in chosen chunk sizes, for tests of everything above the plug-ins.

#include "audio/AudioSource.h"
#include "plugin-api/PluginObject.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace tonemirror::fakes {

struct FakeStream {
    StreamFormat format{1, 1, 22050};
    std::vector<std::int16_t> pcm;            // interleaved
    std::vector<std::uint32_t> chunkFrames;   // cycled; empty = everything at once
    std::int32_t priority = 1;
    HResult openResult = S_OK;
    HResult formatResult = S_OK;
    HResult endResult = E_END_OF_STREAM;       // what Read answers once the data is used up
    StreamInfo info{};
    HResult infoResult = S_OK;
    int opens = 0;                             // how often Open was called
    int closes = 0;
};

class FakeDecoder {
public:
    explicit FakeDecoder(std::shared_ptr<FakeStream> stream) : s_(std::move(stream)) {}

    HResult open(const char16_t* path) {
        if (path == nullptr) {
            return E_INVALIDARG;
        }
        ++s_->opens;
        open_ = succeeded(s_->openResult);
        pos_ = 0;
        chunk_ = 0;
        return s_->openResult;
    }
    HResult close() {
        if (open_) {
            ++s_->closes;
        }
        open_ = false;
        return S_OK;
    }
    HResult read(const void** data, std::uint32_t* bytes) {
        if (data == nullptr || bytes == nullptr) {
            return E_INVALIDARG;
        }
        if (!open_) {
            return E_FAIL;
        }
        const std::size_t channels = s_->format.channels == 0 ? 1 : s_->format.channels;
        const std::size_t frames = s_->pcm.size() / channels;
        if (pos_ >= frames) {
            return s_->endResult;
        }
        std::size_t n = frames - pos_;
        if (!s_->chunkFrames.empty()) {
            n = std::min<std::size_t>(n, s_->chunkFrames[chunk_++ % s_->chunkFrames.size()]);
        }
        // Copy to an odd address so consumers cannot assume alignment.
        block_.assign(1 + n * channels * 2, 0);
        std::memcpy(block_.data() + 1, s_->pcm.data() + pos_ * channels, n * channels * 2);
        *data = block_.data() + 1;
        *bytes = static_cast<std::uint32_t>(n * channels * 2);
        pos_ += n;
        return S_OK;
    }
    std::int32_t priority() { return s_->priority; }
    HResult info(StreamInfo* out) {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        if (!open_) {
            return E_FAIL;
        }
        std::memcpy(out, &s_->info, sizeof *out);
        return s_->infoResult;
    }
    HResult format(StreamFormat* out) {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        if (!open_) {
            return E_FAIL;
        }
        *out = s_->format;
        return s_->formatResult;
    }

private:
    std::shared_ptr<FakeStream> s_;
    bool open_ = false;
    std::size_t pos_ = 0;
    std::size_t chunk_ = 0;
    std::vector<std::uint8_t> block_;
};

// An AudioSource decoder entry backed by a FakeStream.
inline audio::AudioSource::Decoder makeFakeDecoder(std::shared_ptr<FakeStream> stream, std::string name = "fake") {
    void* object = nullptr;
    plugin::createObject<IDecoder, FakeDecoder>(&object, std::move(stream));
    return {static_cast<IDecoder*>(object), std::move(name)};
}

} // namespace tonemirror::fakes
