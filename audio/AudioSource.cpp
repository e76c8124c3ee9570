#include "audio/AudioSource.h"

#include "audio/PluginList.h"

#include "platform/os/FileIdentity.h"
#include "platform/os/Paths.h"

#include <algorithm>

namespace tonemirror::audio {

namespace {
constexpr std::size_t kKeptCapacity = 100000;
const std::string kNoPlugin;
} // namespace

bool refusedForReading(const std::u16string& path) {
    const os::OpenRefusal r = os::checkRegularFile(os::toNativePath(path));
    return r == os::OpenRefusal::NotRegular || r == os::OpenRefusal::PseudoFileSystem;
}

AudioSource::AudioSource(const PluginList& plugins) {
    for (const auto& entry : plugins.entries()) {
        void* object = nullptr;
        if (succeeded(entry.getInterface(kIidDecoder, &object)) && object != nullptr) {
            decoders_.push_back({static_cast<IDecoder*>(object), entry.name()});
        }
    }
    sortDecoders();
}

AudioSource::AudioSource(std::vector<Decoder> decoders) : decoders_(std::move(decoders)) {
    std::erase_if(decoders_, [](const Decoder& d) { return d.object == nullptr; });
    sortDecoders();
}

AudioSource::~AudioSource() {
    close();
    for (auto& d : decoders_) {
        d.object->vtbl->Release(d.object);
    }
}

void AudioSource::sortDecoders() {
    std::stable_sort(decoders_.begin(), decoders_.end(), [](const Decoder& a, const Decoder& b) {
        return a.object->vtbl->GetPriority(a.object) > b.object->vtbl->GetPriority(b.object);
    });
}

HResult AudioSource::open(const std::u16string& path) {
    close();
    if (refusedForReading(path)) {
        return E_FAIL;
    }
    for (const auto& d : decoders_) {
        IDecoder* dec = d.object;
        if (failed(dec->vtbl->Open(dec, path.c_str()))) {
            continue;
        }
        StreamFormat fmt{};
        if (succeeded(dec->vtbl->GetFormat(dec, &fmt)) && succeeded(converter_.prepare(fmt))) {
            format_ = fmt;
            current_ = &d;
            return S_OK;
        }
        dec->vtbl->Close(dec);
        converter_.reset();
    }
    return E_FAIL;
}

HResult AudioSource::read(const float** samples, std::uint32_t* count) {
    if (samples == nullptr || count == nullptr) {
        return E_INVALIDARG;
    }
    *samples = nullptr;
    *count = 0;
    if (current_ == nullptr) {
        return E_FAIL;
    }
    const void* data = nullptr;
    std::uint32_t bytes = 0;
    const HResult r = current_->object->vtbl->Read(current_->object, &data, &bytes);
    if (failed(r)) {
        return r;
    }
    const HResult c = converter_.convert(data, bytes, output_);
    if (failed(c)) {
        return c;
    }
    if (tap_ != nullptr && data != nullptr && format_.channels != 0) {
        tap_->frames(data, bytes / (2u * format_.channels), format_); // the converter took these frames
    }
    *samples = output_.empty() ? nullptr : output_.data();
    *count = static_cast<std::uint32_t>(output_.size());
    return S_OK;
}

HResult AudioSource::close() {
    output_.clear();
    if (output_.capacity() > kKeptCapacity) {
        output_.shrink_to_fit();
    }
    converter_.reset();
    if (current_ == nullptr) {
        return E_FAIL;
    }
    const Decoder* d = current_;
    current_ = nullptr;
    format_ = {};
    return d->object->vtbl->Close(d->object);
}

HResult AudioSource::getInfo(StreamInfo* info) {
    if (current_ == nullptr) {
        return E_FAIL;
    }
    return current_->object->vtbl->GetInfo(current_->object, info);
}

const std::string& AudioSource::currentPluginName() const {
    return current_ != nullptr ? current_->pluginName : kNoPlugin;
}

} // namespace tonemirror::audio
