#pragma once

// The one decoder of the tests: it plays prepared or generated PCM in chosen chunk sizes, for tests of
// everything above the plug-ins. What it plays for a path comes from a TestLibrary: a single stream
// for every path (AudioSource tests), signals held in memory (TestSignals.h) or small text files that
// describe a song (ToneSong.h).

#include "audio/AudioSource.h"
#include "plugin-api/PluginObject.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tonemirror::fakes {

// What the decoder plays for one opened path, and how it answers.
struct TestStream {
    StreamFormat format{1, 1, 22050};
    std::vector<std::int16_t> pcm;          // interleaved
    std::function<std::int16_t()> next;     // instead of pcm: mono samples made in order, on demand
    std::size_t madeFrames = 0;             // how many samples `next` makes
    std::vector<std::uint32_t> chunkFrames; // cycled; empty = everything at once
    std::int32_t priority = 1;
    HResult openResult = S_OK;
    HResult formatResult = S_OK;
    HResult endResult = E_END_OF_STREAM; // what Read answers once the data is used up
    StreamInfo info{};
    HResult infoResult = S_OK;
    int opens = 0; // how often Open was called
    int closes = 0;

    std::size_t channels() const { return format.channels == 0 ? 1 : format.channels; }
    std::size_t frames() const { return next ? madeFrames : pcm.size() / channels(); }
};

// Finds the stream for a path; nullptr refuses the file.
using TestLibrary = std::function<std::shared_ptr<TestStream>(const std::u16string& path)>;

class TestDecoder {
public:
    // Plays `stream` whatever the path, and takes its priority.
    explicit TestDecoder(std::shared_ptr<TestStream> stream)
        : fixed_(stream), library_([stream](const std::u16string&) { return stream; }) {}
    explicit TestDecoder(TestLibrary library) : library_(std::move(library)) {}

    HResult open(const char16_t* path) {
        if (path == nullptr) {
            return E_INVALIDARG;
        }
        open_ = false;
        s_ = library_(path);
        if (s_ == nullptr) {
            return E_FAIL;
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
        const std::size_t frames = s_->frames();
        if (pos_ >= frames) {
            return s_->endResult;
        }
        std::size_t n = frames - pos_;
        if (!s_->chunkFrames.empty()) {
            n = std::min<std::size_t>(n, s_->chunkFrames[chunk_++ % s_->chunkFrames.size()]);
        }
        const std::size_t size = n * s_->channels() * sizeof(std::int16_t);
        // Copy to an odd address so consumers cannot assume alignment.
        block_.assign(1 + size, 0);
        if (s_->next) {
            for (std::size_t k = 0; k < n; ++k) {
                const std::int16_t v = s_->next();
                std::memcpy(block_.data() + 1 + k * sizeof v, &v, sizeof v);
            }
        } else {
            std::memcpy(block_.data() + 1, s_->pcm.data() + pos_ * s_->channels(), size);
        }
        *data = block_.data() + 1;
        *bytes = static_cast<std::uint32_t>(size);
        pos_ += n;
        return S_OK;
    }
    std::int32_t priority() { return fixed_ != nullptr ? fixed_->priority : 1; }
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
    std::shared_ptr<TestStream> fixed_;
    TestLibrary library_;
    std::shared_ptr<TestStream> s_;
    bool open_ = false;
    std::size_t pos_ = 0;
    std::size_t chunk_ = 0;
    std::vector<std::uint8_t> block_;
};

// An AudioSource decoder entry; `source` is a TestStream for every path or a TestLibrary.
template <typename Source>
audio::AudioSource::Decoder makeTestDecoder(Source source, std::string name = "test") {
    void* object = nullptr;
    plugin::createObject<IDecoder, TestDecoder>(&object, std::move(source));
    return {static_cast<IDecoder*>(object), std::move(name)};
}

// An AudioSource with one TestDecoder over `library`.
inline std::unique_ptr<audio::AudioSource> makeTestSource(TestLibrary library, std::string name = "test") {
    std::vector<audio::AudioSource::Decoder> decoders;
    decoders.push_back(makeTestDecoder(std::move(library), std::move(name)));
    return std::make_unique<audio::AudioSource>(std::move(decoders));
}

} // namespace tonemirror::fakes
