#include "plugins/compresscodec/AsfParser.h"

#include <algorithm>

namespace tonemirror::compresscodec {

namespace {

// Identifiers in their stored (little-endian GUID) byte order.
constexpr std::uint8_t kHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                            0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::uint8_t kStreamProperties[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint8_t kAudioMedia[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                          0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

constexpr std::size_t kHeaderObjectSize = 30;
constexpr std::size_t kObjectHeaderSize = 24;
constexpr std::size_t kStreamPropertiesFixed = 54;
constexpr std::uint64_t kStreamPropertiesMin = kObjectHeaderSize + kStreamPropertiesFixed;
constexpr std::uint32_t kAudioRecordSize = 28;

} // namespace

bool parseAsf(ByteSource& source, SourceFormat& out) {
    out = SourceFormat{};
    std::uint8_t head[kHeaderObjectSize];
    if (!source.seek(0) || !source.readExact(head, sizeof(head)) ||
        std::memcmp(head, kHeaderObject, 16) != 0 || le64(head + 16) < kHeaderObjectSize) {
        return false;
    }
    for (;;) {
        const std::uint64_t objectStart = source.position();
        std::uint8_t object[kObjectHeaderSize];
        if (!source.readExact(object, sizeof(object))) {
            return false;
        }
        const std::uint64_t size = le64(object + 16);
        if (size < kObjectHeaderSize) {
            return false;
        }
        if (std::memcmp(object, kStreamProperties, 16) != 0) {
            // Beyond the end of the file the seek fails: the walk always ends.
            if (size > source.size() - objectStart || !source.seek(objectStart + size)) {
                return false;
            }
            continue;
        }
        std::uint8_t fixed[kStreamPropertiesFixed];
        if (size < kStreamPropertiesMin || !source.readExact(fixed, sizeof(fixed)) ||
            std::memcmp(fixed, kAudioMedia, 16) != 0 || le32(fixed + 40) != kAudioRecordSize) {
            return false;
        }
        out.record.assign(kAudioRecordSize, 0);
        if (!source.readExact(out.record.data(), kAudioRecordSize) || !source.seek(0)) {
            out.record.clear();
            return false;
        }
        out.bytesLeft = source.size();
        return true;
    }
}

} // namespace tonemirror::compresscodec
