#pragma once

#include "plugins/compresscodec/ByteSource.h"

#include <cstdint>
#include <span>
#include <string>

namespace tonemirror::compresscodec {

// Title, artist and album read from ID3 tags; each at most 255 UTF-16 units.
struct TagTexts {
    static constexpr std::size_t kMaxChars = 255;

    std::u16string title;
    std::u16string artist;
    std::u16string album;
};

// Decodes the data of an ID3v2.3 text frame (encoding byte first).
std::u16string decodeId3Text(std::span<const std::uint8_t> data);

// ID3v2.3 tag at offset 0: true when at least one of title, artist, album was decoded. Other major
// versions, tags with an extended header and tags larger than the file are not read.
bool readId3v2(ByteSource& source, TagTexts& out);

// ID3v1 trailer in the last 128 bytes: true when present.
bool readId3v1(ByteSource& source, TagTexts& out);

// ID3v2, else ID3v1. The source position is restored.
bool readTags(ByteSource& source, TagTexts& out);

} // namespace tonemirror::compresscodec
