#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace tonemirror::compresscodec {

inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t le64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}
inline std::uint32_t be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline void putLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putLe32(std::uint8_t* p, std::uint32_t v) {
    putLe16(p, static_cast<std::uint16_t>(v));
    putLe16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

// What a container parse found: the source format record (WAVEFORMATEX-shaped, little-endian, at
// least 18 bytes) and how many source bytes follow from the position the parse left the file at.
struct SourceFormat {
    static constexpr std::size_t kMinRecordSize = 18;

    std::vector<std::uint8_t> record;
    std::uint64_t bytesLeft = 0; // files past 4 GB are read to their end

    bool valid() const { return record.size() >= kMinRecordSize; }
    std::uint16_t formatTag() const { return le16(record.data()); }
    std::uint16_t channels() const { return le16(record.data() + 2); }
    std::uint32_t samplesPerSec() const { return le32(record.data() + 4); }
    std::uint32_t avgBytesPerSec() const { return le32(record.data() + 8); }
    std::uint16_t blockAlign() const { return le16(record.data() + 12); }
    std::uint16_t bitsPerSample() const { return le16(record.data() + 14); }
};

} // namespace tonemirror::compresscodec
