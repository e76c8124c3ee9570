#pragma once

#include <cstdint>
#include <string>

namespace tonemirror::engine {

// What the details pane shows of one file of a pair. Made by the front end the first time a row
// holding the file is selected; pairs refer to it.
struct DetailsRecord {
    std::u16string fileName; // after the last separator; the whole path when there is none
    std::u16string folder;   // before it, without the separator; empty when there is none
    std::u16string artist;
    std::u16string title;
    std::u16string album;
    std::uint64_t sizeBytes = 0; // 0 when the file's attributes cannot be read
    std::uint32_t durationMs = 0;
    std::uint32_t bitRate = 0; // bits per second; 0 when unknown
    // What else decides which copy is worth keeping (shell/FileQuality.h).
    std::string format;    // the name's extension, lower case ("flac"); empty when it has none
    bool lossless = false; // by its format
    bool probablyTranscoded = false;
    std::uint32_t cutoffHz = 0; // where a probably transcoded file's spectrum ends
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::uint32_t tagFields = 0; // how many of title, artist and album are filled
};

} // namespace tonemirror::engine
