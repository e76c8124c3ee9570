#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace tonemirror::compresscodec {

// Sequential reads with seeks over a file or a block of memory, bounded by the data's real size.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads up to count bytes at the current position; returns how many were read (0 at the end or on
    // an error) and advances by that many.
    virtual std::size_t read(void* buffer, std::size_t count) = 0;
    // Moves to an absolute offset; false (position unchanged) beyond the end of the data.
    virtual bool seek(std::uint64_t offset) = 0;
    virtual std::uint64_t position() const = 0;
    // Size of the data as it was when the source was opened.
    virtual std::uint64_t size() const = 0;

    // Reads exactly count bytes, or fails.
    bool readExact(void* buffer, std::size_t count) { return read(buffer, count) == count; }
    std::uint64_t remaining() const { return size() > position() ? size() - position() : 0; }
};

// A file opened read-only for sequential access.
class FileByteSource final : public ByteSource {
public:
    FileByteSource() = default;
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    bool open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    std::size_t read(void* buffer, std::size_t count) override;
    bool seek(std::uint64_t offset) override;
    std::uint64_t position() const override { return position_; }
    std::uint64_t size() const override { return size_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

// Bytes in memory that outlive the source (tests and fuzz targets).
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t read(void* buffer, std::size_t count) override;
    bool seek(std::uint64_t offset) override;
    std::uint64_t position() const override { return position_; }
    std::uint64_t size() const override { return data_.size(); }

private:
    std::span<const std::uint8_t> data_;
    std::uint64_t position_ = 0;
};

} // namespace tonemirror::compresscodec
