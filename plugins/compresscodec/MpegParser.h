#pragma once

#include "plugins/compresscodec/ByteSource.h"
#include "plugins/compresscodec/SourceFormat.h"

#include <cstdint>
#include <optional>

namespace tonemirror::compresscodec {

// Fields of a 4-byte MPEG audio frame header.
struct MpegHeader {
    enum Version { Mpeg25 = 0, Mpeg2 = 2, Mpeg1 = 3 };

    int version = Mpeg1;
    int layer = 3;                 // 1, 2 or 3
    std::uint32_t bitRateKbps = 0; // 0: free format
    std::uint32_t sampleRate = 0;
    bool padding = false;
    bool singleChannel = false;
    std::uint32_t frameLength = 0; // bytes, header included
};

// Decodes a big-endian frame header; nothing for a reserved version, layer, sampling-rate index or the
// invalid bit-rate index 15.
std::optional<MpegHeader> decodeMpegHeader(std::uint32_t header);

// The 30-byte MPEG Layer-3 format record for a frame header.
std::vector<std::uint8_t> mpegLayer3Record(const MpegHeader& header);

// Finds the first frame header after an ID3v2 tag, searching a 1024-byte window. On success the source
// stands at the header and out.bytesLeft holds the bytes from there to the end of the file.
bool parseMpeg(ByteSource& source, SourceFormat& out);

} // namespace tonemirror::compresscodec
