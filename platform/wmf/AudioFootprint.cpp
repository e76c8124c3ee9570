#include "platform/wmf/AudioFootprint.h"

#include "platform/wmf/FfmpegLimits.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/murmur3.h>
}

#include <memory>

namespace tonemirror::wmf {

namespace {

using Clock = std::chrono::steady_clock;

struct FormatCloser {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct HashFreer {
    void operator()(AVMurMur3* hash) const { av_free(hash); }
};

int interrupt(void* deadline) {
    return Clock::now() > *static_cast<Clock::time_point*>(deadline) ? 1 : 0;
}

std::unique_ptr<AVFormatContext, FormatCloser> openInput(const std::filesystem::path& file,
                                                         Clock::time_point* deadline) {
    AVFormatContext* format = avformat_alloc_context();
    if (format == nullptr) {
        return nullptr;
    }
    format->interrupt_callback.callback = &interrupt;
    format->interrupt_callback.opaque = deadline;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "probesize", kProbeSize, 0);
    av_dict_set(&options, "max_streams", kMaxStreams, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kAudioContainers, 0);
    const std::string url = "file:" + file.string();
    const int r = avformat_open_input(&format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0) {
        return nullptr; // freed by avformat_open_input
    }
    return std::unique_ptr<AVFormatContext, FormatCloser>(format);
}

int firstAudioStream(const AVFormatContext& format) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

std::optional<AudioFootprint> measureAudio(const std::filesystem::path& file,
                                           std::chrono::milliseconds limit) {
    Clock::time_point deadline = Clock::now() + limit;
    const auto format = openInput(file, &deadline);
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVMurMur3, HashFreer> hash(av_murmur3_alloc());
    if (format == nullptr || packet == nullptr || hash == nullptr) {
        return std::nullopt;
    }
    const int index = firstAudioStream(*format);
    if (index < 0) {
        return std::nullopt;
    }
    const AVCodecParameters& par = *format->streams[index]->codecpar;
    AudioFootprint print;
    print.codec = static_cast<int>(par.codec_id);
    print.sampleRate = par.sample_rate;
    print.channels = par.ch_layout.nb_channels;
    av_murmur3_init(hash.get());
    int r = 0;
    while ((r = av_read_frame(format.get(), packet.get())) >= 0) {
        if (packet->stream_index == index) {
            ++print.packets;
            print.bytes += static_cast<std::uint64_t>(packet->size);
            print.duration += static_cast<std::uint64_t>(packet->duration); // wraps, never overflows
            av_murmur3_update(hash.get(), packet->data, static_cast<size_t>(packet->size));
            // Samples to drop at the start and end (gapless playback) are part of what is heard.
            std::size_t skipSize = 0;
            if (const std::uint8_t* skip =
                    av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &skipSize)) {
                av_murmur3_update(hash.get(), skip, skipSize);
            }
        }
        av_packet_unref(packet.get());
    }
    // Only the end of the file ends the stream; a read error or the deadline leaves it unmeasured.
    if (r != AVERROR_EOF || Clock::now() > deadline) {
        return std::nullopt;
    }
    av_murmur3_final(hash.get(), reinterpret_cast<std::uint8_t*>(print.hash));
    return print;
}

} // namespace tonemirror::wmf
