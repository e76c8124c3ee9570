#include "platform/wmf/FfmpegSyncReader.h"

#include "platform/wmf/FfmpegLimits.h"

#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "platform/wmf/TagAttributes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace tonemirror::wmf {

namespace {

// Consecutive packets the decoder may reject before the stream is given up as broken.
constexpr int kMaxBadPackets = 200;

class OutputProps final : public IOutputMediaProps {
public:
    OutputProps(TmGuid majorType, std::vector<std::uint8_t> mediaType)
        : majorType_(majorType), mediaType_(std::move(mediaType)) {}

    HResult getType(TmGuid* majorType) override {
        if (majorType == nullptr) {
            return E_INVALIDARG;
        }
        *majorType = majorType_;
        return S_OK;
    }

    HResult getMediaType(MediaType* buffer, std::uint32_t* size) override {
        if (size == nullptr) {
            return E_INVALIDARG;
        }
        const auto needed = static_cast<std::uint32_t>(mediaType_.size());
        if (buffer == nullptr) {
            *size = needed;
            return S_OK;
        }
        if (*size < needed) {
            *size = needed;
            return kBufferTooSmall;
        }
        std::memcpy(static_cast<void*>(buffer), mediaType_.data(), needed);
        buffer->format = buffer->formatSize > 0 ? reinterpret_cast<const std::uint8_t*>(buffer + 1) : nullptr;
        *size = needed;
        return S_OK;
    }

    const std::vector<std::uint8_t>& bytes() const { return mediaType_; }

private:
    TmGuid majorType_;
    std::vector<std::uint8_t> mediaType_;
};

class SampleBuffer final : public ISampleBuffer {
public:
    explicit SampleBuffer(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
    HResult getBufferAndLength(const std::uint8_t** data, std::uint32_t* length) override {
        if (data == nullptr || length == nullptr) {
            return E_INVALIDARG;
        }
        *data = data_.data();
        *length = static_cast<std::uint32_t>(data_.size());
        return S_OK;
    }

private:
    std::vector<std::uint8_t> data_;
};

AVChannelLayout effectiveLayout(const AVChannelLayout& layout) {
    AVChannelLayout result{};
    if (layout.order == AV_CHANNEL_ORDER_NATIVE) {
        av_channel_layout_copy(&result, &layout);
    } else {
        av_channel_layout_default(&result, layout.nb_channels);
    }
    return result;
}

std::int64_t to100ns(std::int64_t value, AVRational timeBase) {
    if (value == AV_NOPTS_VALUE) {
        return 0;
    }
    return av_rescale_q(value, timeBase, AVRational{1, 10000000});
}

} // namespace

FfmpegSyncReader::FfmpegSyncReader() = default;

FfmpegSyncReader::~FfmpegSyncReader() {
    close();
}

int FfmpegSyncReader::interruptCallback(void* self) {
    return std::chrono::steady_clock::now() > static_cast<FfmpegSyncReader*>(self)->deadline_ ? 1 : 0;
}

HResult FfmpegSyncReader::open(const char16_t* path) {
    if (path == nullptr) {
        return E_INVALIDARG;
    }
    close();
    const std::filesystem::path native = os::toNativePath(path);
    // Only regular files: a directory fails anyway, and a FIFO would block the open forever.
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return E_FAIL;
    }
    format_ = avformat_alloc_context();
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (format_ == nullptr || packet_ == nullptr || frame_ == nullptr) {
        close();
        return E_OUTOFMEMORY;
    }
    if (const HResult r = openContainer(native); failed(r)) {
        close();
        return r;
    }
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        outputs_.push_back(describeStream(*format_->streams[i], static_cast<int>(i)));
    }
    path_ = native;
    return S_OK;
}

HResult FfmpegSyncReader::openContainer(const std::filesystem::path& native) {
    format_->interrupt_callback.callback = &FfmpegSyncReader::interruptCallback;
    format_->interrupt_callback.opaque = this;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "probesize", kProbeSize, 0);
    av_dict_set(&options, "analyzeduration", kAnalyzeDuration, 0);
    av_dict_set(&options, "max_streams", kMaxStreams, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kAudioContainers, 0);
    startDeadline();
    const std::string url = "file:" + native.string();
    const int r = avformat_open_input(&format_, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0) {
        format_ = nullptr; // freed by avformat_open_input
        return E_FAIL;
    }
    return avformat_find_stream_info(format_, nullptr) < 0 ? E_FAIL : S_OK;
}

FfmpegSyncReader::Output FfmpegSyncReader::describeStream(const AVStream& stream, int index) {
    const AVCodecParameters* par = stream.codecpar;
    Output out;
    out.streamIndex = index;
    switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        out.majorType = kMediaTypeAudio;
        break;
    case AVMEDIA_TYPE_VIDEO:
        out.majorType = kMediaTypeVideo;
        break;
    default:
        out.majorType = kMediaTypeOther;
        break;
    }
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        out.decodable = avcodec_find_decoder(par->codec_id) != nullptr && par->sample_rate > 0 &&
                        par->ch_layout.nb_channels > 0;
        out.channels = par->ch_layout.nb_channels == 1 ? 1 : 2;
        out.sampleRate = static_cast<std::uint32_t>(std::max(par->sample_rate, 0));
    }
    return out;
}

HResult FfmpegSyncReader::close() {
    closeDecoder();
    if (format_ != nullptr) {
        avformat_close_input(&format_);
    }
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    outputs_.clear();
    selected_ = nullptr;
    rangeEnd_ = 0;
    started_ = false;
    header_.reset();
    path_.clear();
    return S_OK;
}

void FfmpegSyncReader::closeDecoder() {
    avcodec_free_context(&codec_);
    swr_free(&resampler_);
    decoding_ = nullptr;
    resamplerFormat_ = -1;
    resamplerRate_ = 0;
    resamplerLayoutMask_ = 0;
    resamplerChannels_ = 0;
    inputDone_ = false;
    badPackets_ = 0;
}

HResult FfmpegSyncReader::getOutputCount(std::uint32_t* count) {
    if (count == nullptr) {
        return E_INVALIDARG;
    }
    if (format_ == nullptr) {
        return E_FAIL;
    }
    *count = static_cast<std::uint32_t>(outputs_.size());
    return S_OK;
}

std::vector<std::uint8_t> FfmpegSyncReader::offeredMediaType(const Output& output) const {
    MediaType type{};
    type.majorType = output.majorType;
    WaveFormat wave{};
    const bool audio = sameGuid(output.majorType, kMediaTypeAudio);
    if (audio) {
        type.subType = output.decodable ? kSubtypePcm : kSubtypeCompressed;
        type.formatType = kFormatWaveFormat;
        type.formatSize = sizeof(WaveFormat);
        wave.formatTag = output.decodable ? kWaveFormatPcm : 0;
        wave.channels = output.channels;
        wave.samplesPerSec = output.sampleRate;
        wave.blockAlign = static_cast<std::uint16_t>(output.channels * 2);
        wave.avgBytesPerSec = output.sampleRate * wave.blockAlign;
        wave.bitsPerSample = output.decodable ? 16 : 0;
        type.fixedSizeSamples = 1;
        type.sampleSize = wave.blockAlign;
    } else {
        type.formatType = kFormatNone;
    }
    std::vector<std::uint8_t> bytes(sizeof(MediaType) + type.formatSize);
    std::memcpy(bytes.data(), &type, sizeof type);
    if (audio) {
        std::memcpy(bytes.data() + sizeof type, &wave, sizeof wave);
    }
    return bytes;
}

HResult FfmpegSyncReader::getOutputProps(std::uint32_t output, std::unique_ptr<IOutputMediaProps>* props) {
    if (props == nullptr) {
        return E_INVALIDARG;
    }
    if (format_ == nullptr || output >= outputs_.size()) {
        return E_FAIL;
    }
    *props = std::make_unique<OutputProps>(outputs_[output].majorType, offeredMediaType(outputs_[output]));
    return S_OK;
}

HResult FfmpegSyncReader::setOutputProps(std::uint32_t output, IOutputMediaProps* props) {
    if (props == nullptr) {
        return E_INVALIDARG;
    }
    if (format_ == nullptr || output >= outputs_.size()) {
        return E_FAIL;
    }
    // Only the offered format is accepted: the reader never converts to another rate or width.
    const std::vector<std::uint8_t> offered = offeredMediaType(outputs_[output]);
    std::uint32_t size = 0;
    if (failed(props->getMediaType(nullptr, &size)) || size != offered.size()) {
        return kInvalidOutputFormat;
    }
    std::vector<MediaType> storage(1 + (size + sizeof(MediaType) - 1) / sizeof(MediaType));
    if (failed(props->getMediaType(storage.data(), &size))) {
        return kInvalidOutputFormat;
    }
    const auto* requested = reinterpret_cast<const std::uint8_t*>(storage.data());
    const MediaType& type = storage[0];
    const bool same = sameGuid(type.majorType, outputs_[output].majorType) &&
                      std::memcmp(requested + offsetof(MediaType, subType),
                                  offered.data() + offsetof(MediaType, subType), sizeof(TmGuid)) == 0 &&
                      type.formatSize == size - sizeof(MediaType) &&
                      std::memcmp(requested + sizeof(MediaType), offered.data() + sizeof(MediaType),
                                  size - sizeof(MediaType)) == 0;
    return same ? S_OK : kInvalidOutputFormat;
}

HResult FfmpegSyncReader::getStreamNumberForOutput(std::uint32_t output, std::uint16_t* streamNumber) {
    if (streamNumber == nullptr) {
        return E_INVALIDARG;
    }
    if (format_ == nullptr || output >= outputs_.size()) {
        return E_FAIL;
    }
    // Stream numbers start at 1; 0 stands for the file itself.
    *streamNumber = static_cast<std::uint16_t>(output + 1);
    return S_OK;
}

HResult FfmpegSyncReader::setStreamsSelected(std::uint16_t count, const std::uint16_t* streamNumbers,
                                             const StreamSelection* selections) {
    if (count > 0 && (streamNumbers == nullptr || selections == nullptr)) {
        return E_INVALIDARG;
    }
    if (format_ == nullptr) {
        return E_FAIL;
    }
    const Output* chosen = nullptr;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (streamNumbers[i] == 0 || streamNumbers[i] > outputs_.size()) {
            return E_INVALIDARG;
        }
        if (selections[i] != StreamSelection::Off) {
            if (chosen != nullptr) {
                return E_NOTIMPL; // one stream at a time
            }
            chosen = &outputs_[streamNumbers[i] - 1u];
        }
    }
    selected_ = chosen;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const bool on = chosen != nullptr && chosen->streamIndex == static_cast<int>(i);
        format_->streams[i]->discard = on ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    if (decoding_ != nullptr && decoding_ != chosen) {
        closeDecoder();
    }
    return S_OK;
}

HResult FfmpegSyncReader::setReadStreamSamples(std::uint16_t streamNumber, bool compressed) {
    if (format_ == nullptr || streamNumber == 0 || streamNumber > outputs_.size()) {
        return E_FAIL;
    }
    if (compressed) {
        return E_NOTIMPL;
    }
    const Output& output = outputs_[streamNumber - 1u];
    if (!output.decodable) {
        return E_NOTIMPL;
    }
    return decoding_ == &output ? S_OK : openDecoder(output);
}

HResult FfmpegSyncReader::openDecoder(const Output& output) {
    closeDecoder();
    const AVCodecParameters* par = format_->streams[output.streamIndex]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (decoder == nullptr) {
        return E_NOTIMPL;
    }
    codec_ = avcodec_alloc_context3(decoder);
    if (codec_ == nullptr) {
        return E_OUTOFMEMORY;
    }
    if (avcodec_parameters_to_context(codec_, par) < 0) {
        closeDecoder();
        return E_FAIL;
    }
    codec_->pkt_timebase = format_->streams[output.streamIndex]->time_base;
    codec_->thread_count = 1; // the scan already runs one decoder per worker thread
    if (avcodec_open2(codec_, decoder, nullptr) < 0) {
        closeDecoder();
        return E_FAIL;
    }
    decoding_ = &output;
    return S_OK;
}

HResult FfmpegSyncReader::setRange(std::uint64_t start, std::int64_t duration) {
    if (format_ == nullptr) {
        return E_FAIL;
    }
    if (duration < 0 || start > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() / 2)) {
        return E_INVALIDARG;
    }
    rangeEnd_ = duration == 0 ? 0 : static_cast<std::int64_t>(start) + duration;
    if (start == 0 && !started_) {
        return S_OK; // already at the beginning
    }
    startDeadline();
    const std::int64_t target = av_rescale(static_cast<std::int64_t>(start), AV_TIME_BASE, 10000000);
    if (avformat_seek_file(format_, -1, std::numeric_limits<std::int64_t>::min(), target, target, 0) < 0) {
        return E_FAIL;
    }
    if (codec_ != nullptr) {
        avcodec_flush_buffers(codec_);
    }
    inputDone_ = false;
    started_ = false;
    return S_OK;
}

bool FfmpegSyncReader::convertFrame(std::vector<std::uint8_t>& out) {
    const int channels = decoding_->channels;
    if (frame_->sample_rate != static_cast<int>(decoding_->sampleRate) ||
        frame_->ch_layout.nb_channels <= 0 || frame_->nb_samples <= 0) {
        // A change of rate would need resampling, which the offered format rules out.
        return frame_->nb_samples == 0 && frame_->sample_rate == static_cast<int>(decoding_->sampleRate);
    }
    AVChannelLayout inLayout = effectiveLayout(frame_->ch_layout);
    const std::uint64_t mask = inLayout.order == AV_CHANNEL_ORDER_NATIVE ? inLayout.u.mask : 0;
    if (resampler_ == nullptr || resamplerFormat_ != frame_->format ||
        resamplerRate_ != frame_->sample_rate || resamplerLayoutMask_ != mask ||
        resamplerChannels_ != inLayout.nb_channels) {
        swr_free(&resampler_);
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, channels);
        const int r =
            swr_alloc_set_opts2(&resampler_, &outLayout, AV_SAMPLE_FMT_S16, frame_->sample_rate, &inLayout,
                                static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        if (r < 0 || swr_init(resampler_) < 0) {
            av_channel_layout_uninit(&inLayout);
            swr_free(&resampler_);
            return false;
        }
        resamplerFormat_ = frame_->format;
        resamplerRate_ = frame_->sample_rate;
        resamplerLayoutMask_ = mask;
        resamplerChannels_ = inLayout.nb_channels;
    }
    av_channel_layout_uninit(&inLayout);
    const int capacity = swr_get_out_samples(resampler_, frame_->nb_samples);
    if (capacity < 0) {
        return false;
    }
    out.resize(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(channels) * 2u);
    std::uint8_t* target = out.data();
    const int produced =
        swr_convert(resampler_, &target, capacity, const_cast<const std::uint8_t**>(frame_->extended_data),
                    frame_->nb_samples);
    if (produced < 0) {
        return false;
    }
    out.resize(static_cast<std::size_t>(produced) * static_cast<std::size_t>(channels) * 2u);
    return true;
}

HResult FfmpegSyncReader::getNextSample(std::uint16_t streamNumber, std::unique_ptr<ISampleBuffer>* sample,
                                        std::uint64_t* time, std::uint64_t* duration, std::uint32_t* flags) {
    if (sample == nullptr) {
        return E_INVALIDARG;
    }
    sample->reset();
    if (format_ == nullptr || codec_ == nullptr || selected_ != decoding_ || streamNumber == 0 ||
        streamNumber > outputs_.size() || &outputs_[streamNumber - 1u] != decoding_) {
        return E_FAIL;
    }
    startDeadline();
    const AVRational timeBase = format_->streams[decoding_->streamIndex]->time_base;
    for (;;) {
        const int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            std::vector<std::uint8_t> data;
            std::int64_t at = 0;
            std::int64_t length = 0;
            if (!takeFrame(timeBase, data, at, length)) {
                return E_FAIL;
            }
            if (data.empty()) {
                continue;
            }
            if (time != nullptr) {
                *time = static_cast<std::uint64_t>(std::max<std::int64_t>(at, 0));
            }
            if (duration != nullptr) {
                *duration = static_cast<std::uint64_t>(length);
            }
            if (flags != nullptr) {
                *flags = 0;
            }
            *sample = std::make_unique<SampleBuffer>(std::move(data));
            return S_OK;
        }
        if (r == AVERROR_EOF || (r == AVERROR(EAGAIN) && inputDone_)) {
            return kNoMoreSamples;
        }
        if (r != AVERROR(EAGAIN) || failed(feedDecoder(timeBase))) {
            return E_FAIL;
        }
    }
}

bool FfmpegSyncReader::takeFrame(AVRational timeBase, std::vector<std::uint8_t>& data, std::int64_t& at,
                                 std::int64_t& length) {
    const bool ok = convertFrame(data);
    at = to100ns(frame_->best_effort_timestamp, timeBase);
    length = av_rescale(frame_->nb_samples, 10000000, std::max(frame_->sample_rate, 1));
    av_frame_unref(frame_);
    return ok;
}

HResult FfmpegSyncReader::feedDecoder(AVRational timeBase) {
    int r = av_read_frame(format_, packet_);
    if (r == AVERROR_EXIT) {
        return E_FAIL; // deadline passed
    }
    if (r < 0) {
        // End of file, or a file cut short: what was read so far is the stream.
        endInput();
        return S_OK;
    }
    started_ = true;
    if (packet_->stream_index != decoding_->streamIndex) {
        av_packet_unref(packet_);
        return S_OK;
    }
    if (rangeEnd_ > 0 && packet_->pts != AV_NOPTS_VALUE && to100ns(packet_->pts, timeBase) >= rangeEnd_) {
        av_packet_unref(packet_);
        endInput();
        return S_OK;
    }
    r = avcodec_send_packet(codec_, packet_);
    av_packet_unref(packet_);
    if (r >= 0 || r == AVERROR(EAGAIN)) {
        badPackets_ = 0;
        return S_OK;
    }
    // A damaged packet is skipped; a stream of nothing but damage is given up.
    return ++badPackets_ > kMaxBadPackets ? E_FAIL : S_OK;
}

void FfmpegSyncReader::endInput() {
    inputDone_ = true;
    avcodec_send_packet(codec_, nullptr);
}

HResult FfmpegSyncReader::headerInfo(IHeaderInfo** info) {
    if (info == nullptr) {
        return E_INVALIDARG;
    }
    *info = nullptr;
    if (format_ == nullptr) {
        return E_FAIL;
    }
    if (header_ == nullptr) {
        auto store = std::make_unique<AttributeStore>();
        if (!readTagAttributes(path_, *store)) {
            // Files the tag library does not know still have the container's own metadata.
            const std::pair<const char*, const char16_t*> keys[] = {
                {"title", kAttrTitle}, {"artist", kAttrAuthor}, {"album", kAttrAlbum}};
            for (const auto& [key, name] : keys) {
                if (const AVDictionaryEntry* e = av_dict_get(format_->metadata, key, nullptr, 0)) {
                    store->putString(name, os::utf8ToUtf16(e->value));
                }
            }
        }
        if (!store->contains(kAttrDuration) && format_->duration > 0) {
            store->putQword(kAttrDuration, static_cast<std::uint64_t>(format_->duration) * 10u);
        }
        if (!store->contains(kAttrBitrate) && format_->bit_rate > 0 &&
            format_->bit_rate <= std::numeric_limits<std::uint32_t>::max()) {
            store->putDword(kAttrBitrate, static_cast<std::uint32_t>(format_->bit_rate));
        }
        header_ = std::move(store);
    }
    *info = header_.get();
    return S_OK;
}

} // namespace tonemirror::wmf
