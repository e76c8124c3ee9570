#pragma once

// A media runtime that serves prepared outputs, samples and attributes, for what the real one never
// offers (24-bit or six-channel outputs, video ahead of audio, numbers where texts are expected).

#include "platform/wmf/AttributeStore.h"
#include "platform/wmf/Runtime.h"
#include "platform/wmf/TagAttributes.h"

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tonemirror::fakes {

struct FakeOutput {
    TmGuid majorType = wmf::kMediaTypeAudio;
    std::vector<std::uint8_t> mediaType; // MediaType followed by its format block
    bool acceptsSet = true;              // setOutputProps succeeds
};

// A media type for an audio output, optionally with the extra bytes of an extensible wave format.
inline FakeOutput audioOutput(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits = 16,
                              std::uint16_t tag = wmf::kWaveFormatPcm, std::uint16_t extraBytes = 0) {
    wmf::MediaType type{};
    type.majorType = wmf::kMediaTypeAudio;
    type.subType = wmf::kSubtypePcm;
    type.formatType = wmf::kFormatWaveFormat;
    type.formatSize = static_cast<std::uint32_t>(sizeof(wmf::WaveFormat) + extraBytes);
    wmf::WaveFormat wave{
        tag,  channels,  rate, rate * channels * bits / 8u, static_cast<std::uint16_t>(channels * bits / 8u),
        bits, extraBytes};
    FakeOutput out;
    out.mediaType.resize(sizeof type + type.formatSize);
    std::memcpy(out.mediaType.data(), &type, sizeof type);
    std::memcpy(out.mediaType.data() + sizeof type, &wave, sizeof wave);
    return out;
}

inline FakeOutput videoOutput() {
    wmf::MediaType type{};
    type.majorType = wmf::kMediaTypeVideo;
    type.formatType = wmf::kFormatNone;
    FakeOutput out;
    out.majorType = wmf::kMediaTypeVideo;
    out.mediaType.resize(sizeof type);
    std::memcpy(out.mediaType.data(), &type, sizeof type);
    return out;
}

inline std::set<std::u16string> textAttributeNames() {
    std::set<std::u16string> names;
    for (const auto& a : wmf::kTextAttributes) {
        names.insert(a.name);
    }
    return names;
}

struct FakeFile {
    std::vector<FakeOutput> outputs;
    std::vector<std::vector<std::uint8_t>> samples;
    HResult endResult = wmf::kNoMoreSamples; // what getNextSample answers after the last sample
    wmf::AttributeStore attributes{textAttributeNames()};
    HResult flushResult = S_OK;
};

// Everything the fake saw, for the tests to check.
struct FakeLog {
    std::vector<std::uint16_t> selectedStreams;
    std::uint16_t samplesStream = 0;
    int opens = 0;
    int closes = 0;
    int flushes = 0;
    int editorCloses = 0;
};

class FakeRuntime final : public wmf::IRuntime {
public:
    std::map<std::u16string, FakeFile> files;
    FakeLog log;
    bool createFails = false;

    // Output i has stream number 10 + 3i, so code that assumes i + 1 fails.
    static std::uint16_t streamOf(std::uint32_t output) {
        return static_cast<std::uint16_t>(10 + 3 * output);
    }

    HResult createSyncReader(std::unique_ptr<wmf::ISyncReader>* reader) override;
    HResult createEditor(std::unique_ptr<wmf::IMetadataEditor>* editor) override;
};

class FakeProps final : public wmf::IOutputMediaProps {
public:
    explicit FakeProps(const FakeOutput& o) : o_(o) {}
    HResult getType(TmGuid* major) override {
        *major = o_.majorType;
        return S_OK;
    }
    HResult getMediaType(wmf::MediaType* buffer, std::uint32_t* size) override {
        const auto needed = static_cast<std::uint32_t>(o_.mediaType.size());
        if (buffer == nullptr || *size < needed) {
            *size = needed;
            return buffer == nullptr ? S_OK : wmf::kBufferTooSmall;
        }
        std::memcpy(static_cast<void*>(buffer), o_.mediaType.data(), needed);
        buffer->format = reinterpret_cast<const std::uint8_t*>(buffer + 1);
        *size = needed;
        return S_OK;
    }

private:
    const FakeOutput& o_;
};

class FakeBuffer final : public wmf::ISampleBuffer {
public:
    explicit FakeBuffer(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    HResult getBufferAndLength(const std::uint8_t** data, std::uint32_t* length) override {
        *data = bytes_.data();
        *length = static_cast<std::uint32_t>(bytes_.size());
        return S_OK;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

class FakeReader final : public wmf::ISyncReader {
public:
    explicit FakeReader(FakeRuntime& rt) : rt_(rt) {}

    HResult open(const char16_t* path) override {
        const auto it = rt_.files.find(path);
        if (it == rt_.files.end()) {
            return E_FAIL;
        }
        ++rt_.log.opens;
        file_ = &it->second;
        next_ = 0;
        return S_OK;
    }
    HResult close() override {
        if (file_ != nullptr) {
            ++rt_.log.closes;
        }
        file_ = nullptr;
        return S_OK;
    }
    HResult getOutputCount(std::uint32_t* count) override {
        *count = static_cast<std::uint32_t>(file_->outputs.size());
        return S_OK;
    }
    HResult getOutputProps(std::uint32_t output, std::unique_ptr<wmf::IOutputMediaProps>* props) override {
        *props = std::make_unique<FakeProps>(file_->outputs.at(output));
        return S_OK;
    }
    HResult setOutputProps(std::uint32_t output, wmf::IOutputMediaProps*) override {
        return file_->outputs.at(output).acceptsSet ? S_OK : wmf::kInvalidOutputFormat;
    }
    HResult getStreamNumberForOutput(std::uint32_t output, std::uint16_t* stream) override {
        *stream = FakeRuntime::streamOf(output);
        return S_OK;
    }
    HResult setStreamsSelected(std::uint16_t count, const std::uint16_t* streams,
                               const wmf::StreamSelection* selections) override {
        for (std::uint16_t i = 0; i < count; ++i) {
            if (selections[i] == wmf::StreamSelection::On) {
                rt_.log.selectedStreams.push_back(streams[i]);
            }
        }
        return S_OK;
    }
    HResult setReadStreamSamples(std::uint16_t stream, bool compressed) override {
        rt_.log.samplesStream = stream;
        return compressed ? E_NOTIMPL : S_OK;
    }
    HResult setRange(std::uint64_t, std::int64_t) override { return S_OK; }
    HResult getNextSample(std::uint16_t, std::unique_ptr<wmf::ISampleBuffer>* sample, std::uint64_t*,
                          std::uint64_t*, std::uint32_t*) override {
        if (next_ >= file_->samples.size()) {
            return file_->endResult;
        }
        *sample = std::make_unique<FakeBuffer>(file_->samples[next_++]);
        return S_OK;
    }
    HResult headerInfo(wmf::IHeaderInfo** info) override {
        *info = &file_->attributes;
        return S_OK;
    }

private:
    FakeRuntime& rt_;
    FakeFile* file_ = nullptr;
    std::size_t next_ = 0;
};

// Edits a copy of the file's attributes; flush hands the copy back (unless told to fail).
class FakeEditor final : public wmf::IMetadataEditor {
public:
    explicit FakeEditor(FakeRuntime& rt) : rt_(rt) {}

    HResult open(const char16_t* path) override {
        const auto it = rt_.files.find(path);
        if (it == rt_.files.end()) {
            return E_FAIL;
        }
        file_ = &it->second;
        edited_ = std::make_unique<wmf::AttributeStore>(file_->attributes);
        edited_->clearChanges();
        return S_OK;
    }
    HResult close() override {
        ++rt_.log.editorCloses;
        file_ = nullptr;
        edited_.reset();
        return S_OK;
    }
    HResult flush() override {
        ++rt_.log.flushes;
        const HResult r = file_->flushResult;
        if (succeeded(r)) {
            file_->attributes = *edited_;
        }
        file_ = nullptr;
        edited_.reset();
        return r;
    }
    HResult headerInfo(wmf::IHeaderInfo** info) override {
        *info = edited_.get();
        return S_OK;
    }

private:
    FakeRuntime& rt_;
    FakeFile* file_ = nullptr;
    std::unique_ptr<wmf::AttributeStore> edited_;
};

inline HResult FakeRuntime::createSyncReader(std::unique_ptr<wmf::ISyncReader>* reader) {
    if (createFails) {
        return E_OUTOFMEMORY;
    }
    *reader = std::make_unique<FakeReader>(*this);
    return S_OK;
}

inline HResult FakeRuntime::createEditor(std::unique_ptr<wmf::IMetadataEditor>* editor) {
    if (createFails) {
        return E_OUTOFMEMORY;
    }
    *editor = std::make_unique<FakeEditor>(*this);
    return S_OK;
}

} // namespace tonemirror::fakes
