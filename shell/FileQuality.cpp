#include "shell/FileQuality.h"

#include "audio/AudioSource.h"
#include "platform/os/Paths.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace tonemirror::shell {

namespace {

// The fingerprint's spectrum: 2048-point blocks at 22050 Hz, bins 1..1024 below the top of the band.
constexpr double kBinHz = 22050.0 / static_cast<double>(analysis::kSpectrumSize);
constexpr std::size_t kUsefulBins = analysis::kSpectrumSize / 2;
constexpr std::size_t kBandBins = 16;
constexpr std::size_t kBands = kUsefulBins / kBandBins;
// Cut-offs are looked for between these: below, it is no music; above, the scan's own resampling
// filter ends every spectrum.
constexpr double kLowestCutoffHz = 2000.0;
constexpr double kHighestCutoffHz = 9000.0;
// Music still present below the cut-off; the drop across it (two bands); the largest rise from one
// band to the next that a leaked tail shows.
constexpr float kContentBelowPeakDb = 40.0f;
constexpr float kCliffDb = 15.0f;
constexpr float kTailStepDb = 3.0f;

// Band levels in dB, with the fingerprint's tilt towards the high bins taken out again.
std::array<float, kBands> bandLevels(const analysis::TrackRecord& record) {
    std::array<float, kBands> levels{};
    for (std::size_t b = 0; b < kBands; ++b) {
        double sum = 0.0;
        for (std::size_t k = 1 + b * kBandBins; k < 1 + (b + 1) * kBandBins; ++k) {
            const double tilt = static_cast<double>(k + 1) / static_cast<double>(analysis::kSpectrumSize);
            sum += static_cast<double>(record.meanSpectrum[k]) / tilt;
        }
        levels[b] = static_cast<float>(20.0 * std::log10(sum / kBandBins + 1e-12));
    }
    return levels;
}

std::string lowerExtension(const std::u16string& path) {
    const std::string native = os::toNativeName(path);
    const std::size_t slash = native.rfind('/');
    const std::size_t dot = native.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    std::string ext = native.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return ext;
}

// The three text fields of the stream information that are filled.
std::uint32_t filledFields(const StreamInfo& info) {
    std::uint32_t filled = 0;
    for (const auto* field : {info.title, info.artist, info.album}) {
        filled += field[0] != u'\0' ? 1 : 0;
    }
    return filled;
}

} // namespace

bool isLosslessFormat(const std::string& format, std::uint32_t bitRate, std::uint32_t pcmFloor) {
    static constexpr std::array<std::string_view, 10> kLossless = {"flac", "wav", "wave", "aif", "aiff",
                                                                   "aifc", "ape", "wv",   "tta", "tak"};
    // WAV may carry MPEG audio, and MP4 holds lossless or lossy streams: a known rate below what
    // 16-bit stereo at 22050 Hz needs losslessly at the very least is a lossy stream.
    constexpr std::uint32_t kLowestLosslessRate = 400000;
    const bool pcmKind = std::find(kLossless.begin(), kLossless.end(), format) != kLossless.end();
    if (pcmKind && format.rfind("wav", 0) == 0) {
        // Mono or low-rate PCM lies below the stereo bound; its own stream says what plain samples need.
        return bitRate == 0 || bitRate >= (pcmFloor != 0 ? pcmFloor : kLowestLosslessRate);
    }
    if (format == "m4a" || format == "mp4") {
        return bitRate >= kLowestLosslessRate;
    }
    return pcmKind;
}

std::uint32_t spectrumCutoffHz(const analysis::TrackRecord& record) {
    const std::array<float, kBands> levels = bandLevels(record);
    const float peak = *std::max_element(levels.begin(), levels.end());
    if (peak < -200.0f) {
        return 0; // silence, or no spectrum stored
    }
    // From the top down: everything above a lossy encoder's cut-off is the smooth tail that the
    // fingerprint's unwindowed blocks leak from below it; music, even quiet, is uneven.
    float highestAbove = levels[kBands - 1];
    for (std::size_t b = kBands - 1; b >= 2; --b) {
        if (std::fabs(levels[b] - levels[b - 1]) > kTailStepDb && levels[b - 1] < levels[b]) {
            return 0; // rises again: not a tail
        }
        const std::size_t c = b - 2;
        highestAbove = std::max(highestAbove, levels[b]);
        const double cutoffHz = static_cast<double>((c + 1) * kBandBins) * kBinHz;
        if (cutoffHz < kLowestCutoffHz) {
            return 0;
        }
        if (levels[c] - highestAbove >= kCliffDb && levels[c] >= peak - kContentBelowPeakDb) {
            return cutoffHz <= kHighestCutoffHz ? static_cast<std::uint32_t>(cutoffHz) : 0;
        }
    }
    return 0;
}

std::uint32_t transcodeCutoffHz(const analysis::TrackRecord& record) {
    // Cut-offs below the fingerprint's band top show in both; the native measure looks only above.
    const std::uint32_t low = spectrumCutoffHz(record);
    return low != 0 ? low : (record.highCutoffKnown ? record.highCutoffHz : 0);
}

FileQuality readFileQuality(const std::u16string& path, audio::AudioSource& source,
                            const analysis::TrackRecord* record) {
    FileQuality q;
    q.format = lowerExtension(path);
    if (failed(source.open(path))) {
        return q;
    }
    q.readable = true;
    q.plugin = source.currentPluginName();
    q.sampleRate = source.format().sampleRate;
    q.channels = source.format().channels;
    StreamInfo info{};
    if (succeeded(source.getInfo(&info))) {
        q.bitRate = info.bitRate;
        q.durationMs = info.durationMs;
        q.tagFields = filledFields(info);
    }
    source.close();
    // In 64 bits: a damaged header may claim any rate and channel count.
    const std::uint64_t pcmFloor = std::uint64_t{q.sampleRate} * q.channels * 8;
    q.lossless = isLosslessFormat(q.format, q.bitRate,
                                  static_cast<std::uint32_t>(std::min<std::uint64_t>(pcmFloor, UINT32_MAX)));
    if (q.lossless && record != nullptr) {
        q.transcodeCutoffHz = transcodeCutoffHz(*record);
        q.probablyTranscoded = q.transcodeCutoffHz != 0;
    }
    return q;
}

std::string qualitySummary(const FileQuality& q) {
    if (!q.readable) {
        return (q.format.empty() ? std::string("unknown format") : q.format) + ", not readable";
    }
    char text[160];
    const unsigned seconds = q.durationMs / 1000;
    std::snprintf(text, sizeof text, "%s, %s, %u kbit/s, %u Hz, %u ch, %u:%02u, %u tag(s)",
                  q.format.empty() ? "?" : q.format.c_str(),
                  q.probablyTranscoded ? "lossless (probably transcoded)"
                                       : (q.lossless ? "lossless" : "lossy"),
                  q.bitRate / 1000, q.sampleRate, q.channels, seconds / 60, seconds % 60, q.tagFields);
    return text;
}

} // namespace tonemirror::shell
