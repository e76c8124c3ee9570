// Tag writes a hostile but ordinary user provokes: a disk that fills up during the write, a file whose
// content is not what its name says, values a file cannot hold. Each write is refused with its cause,
// and the file stays byte for byte as it was.

#include "audio/AudioSource.h"
#include "audio/TagAccess.h"
#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <csignal>
#include <string>
#include <vector>

using namespace tonemirror;
using namespace mediafiles;

namespace {

struct Format {
    const char* extension;
    std::vector<std::string> encode;
};

const Format kFormats[] = {
    {".mp3", {"-c:a", "libmp3lame"}}, {".flac", {"-c:a", "flac"}},
    {".ogg", {"-c:a", "libvorbis"}},  {".opus", {"-c:a", "libopus"}},
    {".m4a", {"-c:a", "aac"}},        {".wma", {"-c:a", "wmav2"}},
    {".wav", {"-c:a", "pcm_s16le"}},  {".aiff", {"-c:a", "pcm_s16be", "-write_id3v2", "1"}},
};

void PrintTo(const Format& format, std::ostream* os) {
    *os << format.extension;
}

std::string formatName(const testing::TestParamInfo<Format>& info) {
    return info.param.extension + 1;
}

// Writes one tag the way the tag editor does; the problem TagAccess names, None on success.
audio::TagProblem writeTag(const fs::path& file, TagId tag, const std::u16string& text) {
    audio::TagAccess tags(plugins());
    if (failed(tags.open(os::fromNativePath(file)))) {
        return tags.lastProblem();
    }
    if (failed(tags.setTag(tag, text.c_str(), static_cast<std::int32_t>(text.size())))) {
        const audio::TagProblem refused = tags.lastProblem();
        tags.close();
        return refused;
    }
    tags.close();
    return tags.lastProblem();
}

std::u16string readTag(const fs::path& file, TagId tag) {
    audio::TagAccess tags(plugins());
    std::vector<char16_t> buffer(40000);
    if (failed(tags.open(os::fromNativePath(file))) ||
        failed(tags.getTag(tag, buffer.data(), static_cast<std::int32_t>(buffer.size())))) {
        return u"<none>";
    }
    return buffer.data();
}

std::size_t decodedSamples(const fs::path& file) {
    audio::AudioSource source(plugins());
    return decodeAll(source, file).samples.size();
}

// A tmpfs of a given size, mounted for the test's life; needs the superuser.
class SmallDisk {
public:
    SmallDisk(const fs::path& at, std::uintmax_t bytes) : at_(at) {
        fs::create_directory(at_);
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(at_.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

private:
    fs::path at_;
    bool mounted_ = false;
};

class FullDisk : public testing::TestWithParam<Format> {};

// The disk has room for the original and a copy of it, not for a copy with a 20,000-character title.
TEST_P(FullDisk, LongTitleIsRefusedAndTheFileKeepsItsAudio) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a small tmpfs needs the superuser; run as root to test a full disk";
    }
    TempFolder folder;
    const fs::path made = folder / (std::string("song") + GetParam().extension);
    ASSERT_TRUE(makeTone(made, GetParam().encode, {440, 44100, 1, 3.0}));
    const std::uintmax_t page = 4096;
    const std::uintmax_t pages = (fs::file_size(made) + page - 1) / page;
    SmallDisk disk(folder / "disk", (2 * pages + 3) * page);
    if (!disk.mounted()) {
        GTEST_SKIP() << "this system does not let the test mount a tmpfs";
    }
    const fs::path file = folder / "disk" / made.filename();
    fs::copy_file(made, file);
    const std::vector<unsigned char> original = readBytes(file);
    const std::size_t samples = decodedSamples(file);
    ASSERT_GT(samples, 0u);

    EXPECT_EQ(writeTag(file, TagId_Title, std::u16string(20000, u'x')), audio::TagProblem::DiskFull);
    EXPECT_EQ(readBytes(file), original);
    EXPECT_EQ(folderEntries(folder / "disk"), std::vector<std::string>{file.filename().string()});

    // A title that fits still goes in, so the refusal above was the disk's, not the format's.
    EXPECT_EQ(writeTag(file, TagId_Title, u"Short"), audio::TagProblem::None);
    EXPECT_EQ(readTag(file, TagId_Title), u"Short");
    EXPECT_EQ(decodedSamples(file), samples);
}

INSTANTIATE_TEST_SUITE_P(Mediacodec, FullDisk, testing::ValuesIn(kFormats), formatName);

// A file-size limit stops writes short the way a full disk does, and needs no privileges.
TEST(FileSizeLimit, WriteCutShortIsRefused) {
    TempFolder folder;
    const fs::path file = folder / "song.flac";
    ASSERT_TRUE(makeTone(file, {"-c:a", "flac"}, {440, 44100, 1, 2.0}));
    const std::vector<unsigned char> original = readBytes(file);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limit = old;
    limit.rlim_cur = original.size() + 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const audio::TagProblem problem = writeTag(file, TagId_Title, std::u16string(20000, u'y'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(problem, audio::TagProblem::FileTooLarge);
    EXPECT_EQ(readBytes(file), original);
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"song.flac"});
}

// A file named for one format that holds another. Its tags are read by what it holds; writing is
// refused, since the name promises a kind of tag the content does not take (an ID3 tag in front of
// "RIFF" was the result). Within the Ogg family the extensions are interchangeable.
struct Misnamed {
    const char* made;
    const char* named;
    bool writable;
};

void PrintTo(const Misnamed& m, std::ostream* os) {
    *os << m.made << " named " << m.named;
}

class ContentAndName : public testing::TestWithParam<Misnamed> {};

TEST_P(ContentAndName, WriteFollowsTheContentAndRefusesAMismatch) {
    TempFolder folder;
    const fs::path made = folder / (std::string("made") + GetParam().made);
    ASSERT_TRUE(makeTone(made, {"-metadata", "title=Before"}, {440, 44100, 1, 1.0}));
    const fs::path file = folder / (std::string("song") + GetParam().named);
    fs::rename(made, file);
    const std::vector<unsigned char> original = readBytes(file);
    EXPECT_EQ(readTag(file, TagId_Title), u"Before");
    if (GetParam().writable) {
        EXPECT_EQ(writeTag(file, TagId_Title, u"After"), audio::TagProblem::None);
        EXPECT_EQ(readTag(file, TagId_Title), u"After");
    } else {
        EXPECT_EQ(writeTag(file, TagId_Title, u"After"), audio::TagProblem::ContentMismatch);
        EXPECT_EQ(readBytes(file), original);
    }
}

INSTANTIATE_TEST_SUITE_P(Mediacodec, ContentAndName,
                         testing::Values(Misnamed{".wav", ".mp3", false}, Misnamed{".mp3", ".flac", false},
                                         Misnamed{".flac", ".m4a", false}, Misnamed{".m4a", ".wma", false},
                                         Misnamed{".wma", ".ogg", false}, Misnamed{".ogg", ".wav", false},
                                         Misnamed{".opus", ".ogg", true}, Misnamed{".ogg", ".oga", true}),
                         [](const auto& p) {
                             const auto kind = [](std::string extension) {
                                 extension[1] = static_cast<char>(std::toupper(extension[1]));
                                 return extension.substr(1);
                             };
                             return kind(p.param.made) + "NamedAs" + kind(p.param.named);
                         });

// Damage a player shrugs off but the tag library would build on: a size field that disagrees with the
// structure around it. The write is refused and the file stays as it was.
struct Damage {
    const char* extension;
    void (*apply)(std::vector<unsigned char>& bytes);
};

void putLe32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::size_t find(const std::vector<unsigned char>& bytes, const std::string& text) {
    const auto it = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
    return it == bytes.end() ? 0 : static_cast<std::size_t>(it - bytes.begin());
}

void PrintTo(const Damage& damage, std::ostream* os) {
    *os << damage.extension;
}

const Damage kDamages[] = {
    // The header object says it is 100 bytes longer than the objects it holds.
    {".wma", [](auto& b) { putLe32(b, 16, b[16] + (b[17] << 8) + 100); }},
    // The RIFF size claims more than the file holds.
    {".wav", [](auto& b) { putLe32(b, 4, static_cast<std::uint32_t>(b.size()) + 4000); }},
    // The ID3v2 size runs past the end of the file.
    {".mp3", [](auto& b) { b[6] = 0x7F; }},
    // The STREAMINFO block claims a length it cannot have.
    {".flac", [](auto& b) { b[7] = 0x30; }},
    // An atom inside "moov" claims more than its parent holds.
    {".m4a", [](auto& b) { b[find(b, "mvhd") - 2] += 1; }},
    // The last page was cut short.
    {".ogg", [](auto& b) { b.erase(b.end() - 10, b.end()); }},
};

class DamagedContainer : public testing::TestWithParam<Damage> {};

TEST_P(DamagedContainer, WriteIsRefusedAndTheFileUntouched) {
    TempFolder folder;
    const fs::path file = folder / (std::string("song") + GetParam().extension);
    ASSERT_TRUE(makeTone(file, {"-metadata", "title=Before"}, {440, 44100, 1, 1.0}));
    std::vector<unsigned char> bytes = readBytes(file);
    GetParam().apply(bytes);
    writeBytes(file, bytes);
    EXPECT_EQ(writeTag(file, TagId_Title, u"After"), audio::TagProblem::Damaged);
    EXPECT_EQ(readBytes(file), bytes);
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{file.filename().string()});
}

std::string damageName(const testing::TestParamInfo<Damage>& info) {
    return info.param.extension + 1;
}

INSTANTIATE_TEST_SUITE_P(Mediacodec, DamagedContainer, testing::ValuesIn(kDamages), damageName);

// Values a file cannot hold are refused with their reason and the old value stays; values at the
// edge of what it holds come back exactly (a 16-bit track field, a title of 32,767 units ending in an
// emoji).
class TagValues : public testing::TestWithParam<Format> {};

TEST_P(TagValues, RefusedValuesKeepTheOldOnesAndEdgeValuesRoundTrip) {
    TempFolder folder;
    const fs::path file = folder / (std::string("song") + GetParam().extension);
    ASSERT_TRUE(makeTone(file, GetParam().encode, {440, 44100, 1, 1.0}));
    ASSERT_EQ(writeTag(file, TagId_Track, u"5"), audio::TagProblem::None);
    ASSERT_EQ(writeTag(file, TagId_Year, u"2001"), audio::TagProblem::None);
    const std::vector<unsigned char> before = readBytes(file);
    const bool asf = std::string(GetParam().extension) == ".wma";
    const std::u16string emoji = u"\U0001F600";
    const std::u16string longest = std::u16string(asf ? 32764 : 32765, u'a') + emoji;

    const struct {
        TagId tag;
        std::u16string text;
        audio::TagProblem problem;
    } refused[] = {
        {TagId_Track, u"abc", audio::TagProblem::NotANumber},
        {TagId_Track, u"99999999999", audio::TagProblem::NotANumber},
        {TagId_Track, u"32768", audio::TagProblem::NotANumber},
        {TagId_Track, u"3/", audio::TagProblem::NotANumber},
        {TagId_Year, u"hello", audio::TagProblem::NotADate},
        {TagId_Year, u"2021-13", audio::TagProblem::NotADate},
        {TagId_Title, longest + u"b", audio::TagProblem::TextTooLong},
        {TagId_Title, emoji.substr(0, 1) + u"x", audio::TagProblem::InvalidText},
        {TagId_Artist, std::u16string(u"a\0b", 3), audio::TagProblem::InvalidText},
    };
    for (const auto& value : refused) {
        EXPECT_EQ(writeTag(file, value.tag, value.text), value.problem) << value.tag;
    }
    EXPECT_EQ(readBytes(file), before) << "nothing was written";
    EXPECT_EQ(readTag(file, TagId_Track), u"5");
    EXPECT_EQ(readTag(file, TagId_Year), u"2001");

    for (const auto& [tag, text] :
         {std::pair{TagId_Track, u"7/32767"}, std::pair{TagId_Year, u"2021-05-30"}}) {
        ASSERT_EQ(writeTag(file, tag, text), audio::TagProblem::None) << tag;
        EXPECT_EQ(readTag(file, tag), text);
    }
    ASSERT_EQ(writeTag(file, TagId_Title, longest), audio::TagProblem::None);
    EXPECT_EQ(readTag(file, TagId_Title), longest);
}

INSTANTIATE_TEST_SUITE_P(Mediacodec, TagValues, testing::ValuesIn(kFormats), formatName);

// A disk mounted read-only refuses the write with that reason, even to the superuser.
TEST(ReadOnlyDisk, WriteIsRefusedAsReadOnly) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a tmpfs needs the superuser";
    }
    TempFolder folder;
    const fs::path made = folder / "song.ogg";
    ASSERT_TRUE(makeTone(made, {"-c:a", "libvorbis"}, {440, 44100, 1, 1.0}));
    SmallDisk disk(folder / "disk", 4 << 20);
    if (!disk.mounted()) {
        GTEST_SKIP() << "this system does not let the test mount a tmpfs";
    }
    const fs::path file = folder / "disk" / "song.ogg";
    fs::copy_file(made, file);
    ASSERT_EQ(::mount(nullptr, (folder / "disk").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_EQ(writeTag(file, TagId_Title, u"After"), audio::TagProblem::ReadOnly);
    EXPECT_EQ(readBytes(file), readBytes(made));
}

// A path longer than the system takes is named as such; the folders are built and removed relative
// to each other, since their full path cannot be used.
TEST(LongPath, IsNamedTooLong) {
    TempFolder folder;
    const std::string part(200, 'd');
    int dir = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY);
    std::vector<int> dirs;
    fs::path path = folder.path();
    while (path.native().size() <= PATH_MAX) {
        ASSERT_EQ(::mkdirat(dir, part.c_str(), 0755), 0);
        dirs.push_back(dir);
        dir = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(dir, 0);
        path /= part;
    }
    EXPECT_EQ(writeTag(path / "song.mp3", TagId_Title, u"x"), audio::TagProblem::NameTooLong);
    ::close(dir);
    while (!dirs.empty()) {
        ::unlinkat(dirs.back(), part.c_str(), AT_REMOVEDIR);
        ::close(dirs.back());
        dirs.pop_back();
    }
}

} // namespace
