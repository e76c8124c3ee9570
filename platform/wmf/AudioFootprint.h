#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace tonemirror::wmf {

// The audio stream of a file as the demuxer hands it out: its packets, their sizes and durations, and a
// hash of their bytes and of the samples each one says to drop (gapless playback). Tags live outside the packets, so a tag write that kept the audio whole leaves
// the footprint as it was, and a copy cut short or with a broken container does not.
struct AudioFootprint {
    int codec = 0;
    int sampleRate = 0;
    int channels = 0;
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    std::uint64_t duration = 0; // sum of the packet durations, in the stream's time base
    std::uint64_t hash[2] = {};

    bool operator==(const AudioFootprint&) const = default;
};

// Reads the first audio stream of the file to its end. nullopt when the file has no audio stream FFmpeg
// can read, or reading it does not end within `limit` (a time the caller scales with the file's size).
std::optional<AudioFootprint> measureAudio(const std::filesystem::path& file,
                                           std::chrono::milliseconds limit);

} // namespace tonemirror::wmf
