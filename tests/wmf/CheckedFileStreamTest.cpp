// The checked stream must do to a file exactly what the tag library's own memory stream does to a
// buffer, for the edits a save makes: moves across block borders included.

#include "platform/wmf/CheckedFileStream.h"

#include <gtest/gtest.h>
#include <taglib/tbytevectorstream.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>

using tonemirror::wmf::CheckedFileStream;

namespace {

class ScratchFile {
public:
    ScratchFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tm-stream-XXXXXX").string();
        fd_ = ::mkstemp(pattern.data());
        path_ = pattern;
    }
    ~ScratchFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    int fd() const { return fd_; }

private:
    int fd_;
    std::string path_;
};

TagLib::ByteVector fileBytes(int fd) {
    const off_t size = ::lseek(fd, 0, SEEK_END);
    TagLib::ByteVector bytes(static_cast<unsigned>(size), '\0');
    EXPECT_EQ(::pread(fd, bytes.data(), bytes.size(), 0), size);
    return bytes;
}

TagLib::ByteVector randomBytes(std::mt19937& random, unsigned size) {
    TagLib::ByteVector bytes(size, '\0');
    for (unsigned i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(random());
    }
    return bytes;
}

TEST(CheckedFileStream, EditsMatchTheMemoryStream) {
    std::mt19937 random(7);
    ScratchFile file;
    const TagLib::ByteVector start = randomBytes(random, 2'500'000); // more than one move block
    ASSERT_EQ(::pwrite(file.fd(), start.data(), start.size(), 0), static_cast<ssize_t>(start.size()));
    CheckedFileStream stream(file.fd(), "x.mp3", true);
    TagLib::ByteVector memoryBytes = start;
    TagLib::ByteVectorStream memory(memoryBytes);

    for (int step = 0; step < 60; ++step) {
        const auto length = static_cast<unsigned long>(memory.length());
        // Saves replace a tag near the start or the end by a longer or shorter one.
        const unsigned long at =
            step % 3 == 0 ? random() % (length + 1) : std::min(random() % 20000ul, length);
        const unsigned long span = std::min<unsigned long>(random() % 30000, length - at);
        const TagLib::ByteVector data = randomBytes(random, random() % 3 == 0 ? 1'300'000 : random() % 5000);
        switch (step % 4) {
        case 0:
            stream.insert(data, at, span);
            memory.insert(data, at, span);
            break;
        case 1:
            stream.removeBlock(at, span);
            memory.removeBlock(at, span);
            break;
        case 2:
            stream.seek(static_cast<long>(at));
            memory.seek(static_cast<long>(at));
            stream.writeBlock(data);
            memory.writeBlock(data);
            break;
        default:
            stream.truncate(static_cast<long>(length - span));
            memory.truncate(static_cast<long>(length - span));
            break;
        }
        ASSERT_EQ(stream.error(), 0) << "step " << step;
        ASSERT_EQ(stream.length(), memory.length()) << "step " << step;
        // Small reads come from a cached block, which every edit must refresh: read where edits land.
        for (const unsigned long from : {0ul, at / 2, at}) {
            stream.seek(static_cast<long>(from));
            memory.seek(static_cast<long>(from));
            ASSERT_EQ(stream.readBlock(4096), memory.readBlock(4096)) << "step " << step;
        }
    }
    EXPECT_EQ(fileBytes(file.fd()), *memory.data());
}

TEST(CheckedFileStream, ReadsStopAtTheEndAndWritesPastItAreRefused) {
    ScratchFile file;
    ASSERT_EQ(::pwrite(file.fd(), "abcdef", 6, 0), 6);
    CheckedFileStream stream(file.fd(), "x.mp3", true);
    stream.seek(4, TagLib::IOStream::Beginning);
    EXPECT_EQ(stream.readBlock(0xFFFFFFFFul), TagLib::ByteVector("ef"));
    stream.seek(100, TagLib::IOStream::Beginning);
    EXPECT_TRUE(stream.readBlock(10).isEmpty());
    stream.writeBlock("x"); // a hole before the write: a damaged offset, not a save
    EXPECT_EQ(stream.error(), EINVAL);
    stream.seek(0, TagLib::IOStream::Beginning);
    stream.writeBlock("z");
    EXPECT_EQ(fileBytes(file.fd()), TagLib::ByteVector("abcdef")) << "writes after a failure are dropped";
}

TEST(CheckedFileStream, AShortWriteIsKeptAsTheError) {
    ScratchFile file;
    CheckedFileStream stream(file.fd(), "x.mp3", true);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limit = old;
    limit.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    stream.writeBlock(TagLib::ByteVector(4000, 'a'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(stream.error(), EFBIG);
    EXPECT_LT(stream.length(), 4000);
}

} // namespace
