#include "plugins/compresscodec/WaveParser.h"

#include <algorithm>

namespace tonemirror::compresscodec {

namespace {

// A format record is 18 bytes plus at most 65535 bytes of codec data (its own 16-bit count);
// a larger format chunk is damage, and reading it would only cost memory.
constexpr std::uint32_t kMaxFormatSize = SourceFormat::kMinRecordSize + 0xFFFF;

bool isChunkId(const std::uint8_t* id) {
    return std::all_of(id, id + 4, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// Chunks of odd size are followed by a pad byte, which some writers leave out. Take the pad byte
// only when the identifier would otherwise be misaligned (a pad byte is never a printable character).
bool readChunkIdAfter(ByteSource& source, std::uint64_t chunkEnd, bool oddSize, std::uint8_t id[4]) {
    if (!source.seek(chunkEnd) || !source.readExact(id, 4)) {
        return false;
    }
    if (oddSize && !isChunkId(id)) {
        return source.seek(chunkEnd + 1) && source.readExact(id, 4);
    }
    return true;
}

} // namespace

bool parseWave(ByteSource& source, SourceFormat& out) {
    out = SourceFormat{};
    std::uint8_t head[20];
    if (!source.seek(0) || !source.readExact(head, sizeof(head))) {
        return false;
    }
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0 ||
        std::memcmp(head + 12, "fmt ", 4) != 0) {
        return false;
    }
    const std::uint32_t formatSize = le32(head + 16);
    if (formatSize > kMaxFormatSize || formatSize > source.remaining()) {
        return false;
    }
    out.record.assign(std::max<std::size_t>(formatSize, SourceFormat::kMinRecordSize), 0);
    if (!source.readExact(out.record.data(), formatSize)) {
        return false;
    }

    std::uint8_t id[4];
    if (!readChunkIdAfter(source, source.position(), (formatSize & 1) != 0, id)) {
        return false;
    }
    while (std::memcmp(id, "data", 4) != 0) {
        std::uint8_t sizeBytes[4];
        if (!source.readExact(sizeBytes, 4)) {
            return false;
        }
        const std::uint32_t size = le32(sizeBytes);
        if (size > source.remaining()) {
            return false;
        }
        if (!readChunkIdAfter(source, source.position() + size, (size & 1) != 0, id)) {
            return false;
        }
    }
    std::uint8_t sizeBytes[4];
    if (!source.readExact(sizeBytes, 4)) {
        return false;
    }
    // Streamed files often declare more data than they hold.
    out.bytesLeft = std::min<std::uint64_t>(le32(sizeBytes), source.remaining());
    return true;
}

} // namespace tonemirror::compresscodec
