#pragma once

#include <cstddef>
#include <cstdint>

namespace tonemirror::wmf {

// Reads of an open file that never go past its end, for the checks that look at a file's structure.
class FileBytes {
public:
    explicit FileBytes(int fd);

    std::uint64_t size() const { return size_; }
    // Exactly `count` bytes at `offset` into `out`; false when the file ends first or a read fails.
    bool read(std::uint64_t offset, void* out, std::size_t count) const;

private:
    int fd_;
    std::uint64_t size_ = 0;
};

// Unsigned integers stored little- or big-endian.
std::uint32_t le32(const std::uint8_t* p);
std::uint64_t le64(const std::uint8_t* p);
std::uint32_t be32(const std::uint8_t* p);
std::uint64_t be64(const std::uint8_t* p);

} // namespace tonemirror::wmf
