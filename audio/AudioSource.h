#pragma once

#include "audio/SampleConverter.h"
#include "plugin-api/PluginApi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tonemirror::audio {

class PluginList;

// True for a path no decoder or tagger is given: a FIFO, device or socket, or a kernel file, whose
// reading could block forever or never end. A missing path is left to the plug-ins to refuse.
bool refusedForReading(const std::u16string& path);

// Sees the decoded samples at the stream's own rate, before they are resampled: the top of their
// band, which 22050 Hz cuts away, shows only there.
class NativeTap {
public:
    virtual ~NativeTap() = default;
    // `frameCount` whole frames of interleaved 16-bit samples of `format`, in the decoder's byte
    // order and alignment (read them with memcpy).
    virtual void frames(const void* data, std::uint32_t frameCount, const StreamFormat& format) = 0;
};

// Reads any file a codec plug-in can decode as mono float samples at 22050 Hz. One object per thread;
// each holds its own decoder objects.
class AudioSource {
public:
    // A decoder object with the name of the plug-in that made it.
    struct Decoder {
        IDecoder* object = nullptr;
        std::string pluginName;
    };

    // One decoder from each plug-in that supplies one, highest priority first.
    explicit AudioSource(const PluginList& plugins);
    // Takes ownership of the given decoders (tests); they are ordered the same way.
    explicit AudioSource(std::vector<Decoder> decoders);
    ~AudioSource();
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;

    // Closes, then tries each decoder in order. S_OK or E_FAIL.
    HResult open(const std::u16string& path);
    // Samples converted from the next chunk (may be zero); any negative result ends the stream.
    // The block stays valid until the next read, open or close.
    HResult read(const float** samples, std::uint32_t* count);
    // The current decoder's Close result, or E_FAIL when nothing is open.
    HResult close();
    // Forwards to the current decoder; E_FAIL when nothing is open.
    HResult getInfo(StreamInfo* info);

    bool isOpen() const { return current_ != nullptr; }
    // Every block read from now on is shown to `tap` too (null: none); the caller keeps it alive.
    void setNativeTap(NativeTap* tap) { tap_ = tap; }
    // Format and plug-in of the open stream.
    const StreamFormat& format() const { return format_; }
    const std::string& currentPluginName() const;
    std::size_t decoderCount() const { return decoders_.size(); }

private:
    void sortDecoders();

    std::vector<Decoder> decoders_;
    const Decoder* current_ = nullptr;
    StreamFormat format_{};
    SampleConverter converter_;
    std::vector<float> output_;
    NativeTap* tap_ = nullptr;
};

} // namespace tonemirror::audio
