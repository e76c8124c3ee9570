#pragma once

#include <taglib/tiostream.h>

#include <string>
#include <vector>

namespace tonemirror::wmf {

// The tag library's view of an open file. Reads never go past the end nor beyond 64 MB at once, so a
// damaged size field costs no more than the file's size, and no more than that in a sparse file. Every write
// is checked: the first failure is kept (later writes are dropped), because the tag library reports a save as
// done even when the disk cut it short. The file's length is tracked as the writes meant it to be, so the
// caller can compare it with the file's real size. The stream does not own the descriptor.
class CheckedFileStream final : public TagLib::IOStream {
public:
    CheckedFileStream(int fd, std::string name, bool writable);

    TagLib::FileName name() const override { return name_.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    void insert(const TagLib::ByteVector& data, unsigned long start, unsigned long replace) override;
    void removeBlock(unsigned long start, unsigned long length) override;
    bool readOnly() const override { return !writable_; }
    bool isOpen() const override { return fd_ >= 0 && length_ >= 0; }
    void seek(long offset, Position p = Beginning) override;
    long tell() const override { return position_; }
    long length() override { return length_; }
    void truncate(long length) override;

    // errno of the first failed read or write; 0 when every one succeeded.
    int error() const { return error_; }

private:
    bool readAt(long offset, char* out, std::size_t size);
    bool writeAt(long offset, const char* data, std::size_t size);
    // Moves the bytes [from, length) to `to`, as memmove would within the file.
    bool moveTail(long from, long to);
    void fail(int error);

    int fd_;
    std::string name_;
    bool writable_;
    long position_ = 0;
    long length_ = -1;
    int error_ = 0;
    std::vector<char> cache_; // the file's bytes from cacheStart_, dropped on every change
    long cacheStart_ = 0;
};

} // namespace tonemirror::wmf
