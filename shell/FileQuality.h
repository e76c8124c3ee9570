#pragma once

#include "analysis/TrackRecord.h"

#include <cstdint>
#include <string>

namespace tonemirror::audio {
class AudioSource;
}

namespace tonemirror::shell {

// What decides which copy of a song is worth keeping.
struct FileQuality {
    bool readable = false;               // a decoder opened the file; otherwise only the path counts
    std::string format;                  // the name's extension, lower case, without the dot ("flac", "mp3")
    std::string plugin;                  // the plug-in that decodes it
    bool lossless = false;               // by its format (and bit rate where the container holds either kind)
    bool probablyTranscoded = false;     // lossless, but its spectrum ends like a lossy file's
    std::uint32_t transcodeCutoffHz = 0; // where that spectrum ends; 0 when it does not
    std::uint32_t bitRate = 0;           // bits per second; 0 when unknown
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::uint32_t durationMs = 0;
    std::uint32_t tagFields = 0; // how many of title, artist and album are filled

    // Lossless and not made from a lossy file.
    bool trulyLossless() const { return lossless && !probablyTranscoded; }
};

// Whether a file of this format (extension, lower case) and bit rate keeps every sample: the
// lossless formats, and the containers that hold either kind when the rate is one only a lossless
// stream reaches.
// `pcmFloor`, when known, is the rate the stream's samples take uncompressed at 8 bits each (sample
// rate x channels x 8): a WAV below it cannot hold plain samples.
bool isLosslessFormat(const std::string& format, std::uint32_t bitRate, std::uint32_t pcmFloor = 0);

// Where a mean spectrum, as the fingerprint holds it, stops sharply well below the top of the band
// the fingerprint sees: what a lossy encoder's low-pass filter leaves. 0 when it does not (also for
// silence). The fingerprint's samples run at 22050 Hz, so only cut-offs below about 9 kHz show.
std::uint32_t spectrumCutoffHz(const analysis::TrackRecord& record);

// Where a lossless file's spectrum ends like a lossy one's, from its analysis: the measure at the
// file's own rate when the record has it, else the fingerprint's spectrum (records of older
// versions). 0 when it does not.
std::uint32_t transcodeCutoffHz(const analysis::TrackRecord& record);

// Reads the quality of one file through `source` (header only, nothing is decoded); `record`, when
// given, is the file's analysis, whose spectrum tells a transcoded file.
FileQuality readFileQuality(const std::u16string& path, audio::AudioSource& source,
                            const analysis::TrackRecord* record);

// "flac, lossless, 912 kbit/s, 44100 Hz, 2 ch, 3:07, 3 tags" for lists and the command line.
std::string qualitySummary(const FileQuality& quality);

} // namespace tonemirror::shell
