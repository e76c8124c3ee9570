// Writing tags never damages the file: the new version is a copy that replaces the original by
// rename, and any failure leaves the original exactly as it was.

#include "audio/TagAccess.h"
#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"
#include "platform/os/WriteCopyName.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

using namespace tonemirror;
using namespace mediafiles;

namespace {

class TagWriteSafety : public testing::Test {
protected:
    void SetUp() override {
        file = folder / "song.mp3";
        ASSERT_TRUE(
            makeTone(file, {"-c:a", "libmp3lame", "-metadata", "title=Before"}, {440, 44100, 1, 1.0}));
        original = readBytes(file);
    }

    // Opens the file and stages a new title; the write happens at close.
    void stageTitle(audio::TagAccess& tags, const fs::path& target, const std::u16string& title = u"After") {
        ASSERT_EQ(tags.open(os::fromNativePath(target)), S_OK);
        ASSERT_EQ(tags.setTag(TagId_Title, title.c_str(), static_cast<std::int32_t>(title.size())), S_OK);
    }

    std::u16string title(const fs::path& target) {
        audio::TagAccess tags(plugins());
        if (failed(tags.open(os::fromNativePath(target)))) {
            return u"<unreadable>";
        }
        char16_t buffer[128] = {};
        tags.getTag(TagId_Title, buffer, 128);
        return buffer;
    }

    std::vector<std::string> folderEntries() { return ::folderEntries(folder.path()); }

    TempFolder folder;
    fs::path file;
    std::vector<unsigned char> original;
};

TEST_F(TagWriteSafety, ReplacesTheFileByRenameKeepingItsPermissions) {
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    audio::TagAccess tags(plugins());
    stageTitle(tags, file);
    ASSERT_EQ(tags.close(), S_OK);

    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "the original was written in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(title(file), u"After");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"song.mp3"});
    // No ID3v1 tag the file did not have: it would hold the title cut to 30 Latin-1 characters.
    const auto bytes = readBytes(file);
    ASSERT_GT(bytes.size(), 128u);
    EXPECT_NE(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
}

TEST_F(TagWriteSafety, UnchangedTagsLeaveTheFileAlone) {
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    audio::TagAccess tags(plugins());
    ASSERT_EQ(tags.open(os::fromNativePath(file)), S_OK);
    ASSERT_EQ(tags.close(), S_OK);
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(readBytes(file), original);
}

TEST_F(TagWriteSafety, ThroughASymbolicLinkTheTargetIsEdited) {
    const fs::path link = folder / "link.mp3";
    fs::create_symlink(file, link);
    audio::TagAccess tags(plugins());
    stageTitle(tags, link);
    ASSERT_EQ(tags.close(), S_OK);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(title(file), u"After");
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"link.mp3", "song.mp3"}));
}

// What happens to the file between open and close; the write must fail and keep what is there.
enum class Meanwhile { Replaced, Appended, Deleted };

class ChangedMeanwhile : public TagWriteSafety, public testing::WithParamInterface<Meanwhile> {};

TEST_P(ChangedMeanwhile, WriteFailsAndKeepsTheOtherVersion) {
    audio::TagAccess tags(plugins());
    stageTitle(tags, file);

    std::vector<unsigned char> expected;
    switch (GetParam()) {
    case Meanwhile::Replaced: {
        // Another program saved a new version the usual way: a new file renamed over the old one.
        ASSERT_TRUE(makeTone(folder / "other.mp3", {"-c:a", "libmp3lame", "-metadata", "title=Other"},
                             {880, 44100, 1, 1.0}));
        expected = readBytes(folder / "other.mp3");
        fs::rename(folder / "other.mp3", file);
        break;
    }
    case Meanwhile::Appended:
        expected = original;
        expected.push_back(0);
        writeBytes(file, expected);
        break;
    case Meanwhile::Deleted:
        fs::remove(file);
        break;
    }

    EXPECT_TRUE(failed(tags.close()));
    EXPECT_EQ(tags.lastProblem(), audio::TagProblem::Changed);
    if (GetParam() == Meanwhile::Deleted) {
        EXPECT_FALSE(fs::exists(file));
        EXPECT_TRUE(folderEntries().empty());
    } else {
        EXPECT_EQ(readBytes(file), expected);
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"song.mp3"});
    }
}

std::string nameOf(const testing::TestParamInfo<Meanwhile>& info) {
    constexpr const char* kNames[] = {"Replaced", "Appended", "Deleted"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Mediacodec, ChangedMeanwhile,
                         testing::Values(Meanwhile::Replaced, Meanwhile::Appended, Meanwhile::Deleted),
                         nameOf);

TEST_F(TagWriteSafety, ReadOnlyFolderFailsAndKeepsTheOriginal) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    audio::TagAccess tags(plugins());
    stageTitle(tags, file);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
    EXPECT_TRUE(failed(tags.close()));
    EXPECT_EQ(tags.lastProblem(), audio::TagProblem::ReadOnly);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    EXPECT_EQ(readBytes(file), original);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"song.mp3"});
}

TEST_F(TagWriteSafety, ReadOnlyFileIsNotRewritten) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    audio::TagAccess tags(plugins());
    stageTitle(tags, file);
    EXPECT_TRUE(failed(tags.close()));
    EXPECT_EQ(tags.lastProblem(), audio::TagProblem::ReadOnly);
    EXPECT_EQ(readBytes(file), original);
}

// A folder the temporary copy cannot be made in, even for the superuser: the file's folder is gone
// and a file stands where it was.
TEST_F(TagWriteSafety, FolderGoneFailsCleanly) {
    const fs::path inner = folder / "album";
    fs::create_directory(inner);
    const fs::path song = inner / "song.mp3";
    fs::copy_file(file, song);
    audio::TagAccess tags(plugins());
    stageTitle(tags, song);
    fs::remove_all(inner);
    writeBytes(inner, {'x'});
    EXPECT_TRUE(failed(tags.close()));
    EXPECT_EQ(tags.lastProblem(), audio::TagProblem::Changed);
    EXPECT_EQ(readBytes(inner), std::vector<unsigned char>{'x'});
}

// An M4A whose chunk-offset table claims far more entries than it holds: a tag that changes size
// would make the tag library rewrite billions of offsets. The write is refused, nothing is left behind,
// and the same file with a sound table still takes the tag.
TEST_F(TagWriteSafety, DamagedMp4OffsetTableRefusesTheWrite) {
    const fs::path good = folder / "good.m4a";
    ASSERT_TRUE(makeTone(good, {"-c:a", "aac", "-metadata", "title=Before"}, {440, 44100, 1, 1.0}));
    std::vector<unsigned char> bytes = readBytes(good);
    const std::string tag = "stco";
    const auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    ASSERT_NE(at, bytes.end());
    // Count field: after the 4-byte name and 4 bytes of version and flags.
    const auto count = static_cast<std::size_t>(at - bytes.begin()) + 8;
    ASSERT_LE(count + 4, bytes.size());
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(count), 4, 0xff);
    const fs::path damaged = folder / "damaged.m4a";
    writeBytes(damaged, bytes);

    const std::u16string longTitle(300, u'x');
    audio::TagAccess tags(plugins());
    stageTitle(tags, damaged, longTitle);
    EXPECT_TRUE(failed(tags.close()));
    EXPECT_EQ(tags.lastProblem(), audio::TagProblem::Damaged);
    EXPECT_EQ(readBytes(damaged), bytes);

    stageTitle(tags, good, longTitle);
    EXPECT_EQ(tags.close(), S_OK);
    EXPECT_EQ(title(good), longTitle.substr(0, 127)); // as much as the reading buffer holds
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"damaged.m4a", "good.m4a", "song.mp3"}));
}

// A PCM WAV file of 24 MB (silence), big enough that a write is still under way a moment after
// its copy appears.
void writeLargeWav(const fs::path& file) {
    const std::uint32_t data = 24u << 20;
    std::vector<unsigned char> bytes = {
        'R', 'I', 'F',  'F',  0, 0, 0,    0,    'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16,  0,   0, 0, 1, 0,
        2,   0,   0x44, 0xAC, 0, 0, 0x10, 0xB1, 2,   0,   4,   0,   16,  0,   'd', 'a', 't', 'a', 0, 0, 0, 0};
    const auto putLe32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
        }
    };
    putLe32(4, 36 + data);
    putLe32(40, data);
    bytes.resize(bytes.size() + data, 0);
    writeBytes(file, bytes);
}

bool hasWriteCopy(const fs::path& folder) {
    for (const auto& e : fs::directory_iterator(folder)) {
        if (os::isWriteCopyName(e.path().filename().native())) {
            return true;
        }
    }
    return false;
}

// Ctrl-C or SIGTERM in the middle of a write: the program ends by the signal as it would have, the
// copy is gone and the original untouched.
class Interrupted : public testing::TestWithParam<int> {};

TEST_P(Interrupted, WriteLeavesNoCopyAndTheOriginal) {
    TempFolder folder;
    const fs::path file = folder / "long.wav";
    writeLargeWav(file);
    const auto original = readBytes(file);
    const std::string cli = (os::programFolder() / "tonemirror-cli").string();
    std::vector<std::string> args = {cli, "tags", "set", file.string(), "--title", "Interrupted"};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, cli.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    while (!hasWriteCopy(folder.path()) && ::waitpid(pid, &status, WNOHANG) == 0) {
        ::usleep(200);
    }
    ::kill(pid, GetParam());
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);

    ASSERT_TRUE(WIFSIGNALED(status)) << "the write ended before the signal came; status " << status;
    EXPECT_EQ(WTERMSIG(status), GetParam());
    EXPECT_EQ(fs::file_size(file), original.size());
    EXPECT_TRUE(readBytes(file) == original);
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"long.wav"});
}

INSTANTIATE_TEST_SUITE_P(Mediacodec, Interrupted, testing::Values(SIGINT, SIGTERM), [](const auto& p) {
    return std::string(p.param == SIGINT ? "ByInterrupt" : "ByTerminate");
});

// Copies a killed write left behind are removed by the next write in their folder: only ours, only
// when older than a day, and never one a running write holds.
TEST_F(TagWriteSafety, StaleCopiesAreRemovedWhenAWriteStarts) {
    const auto age = [&](const std::string& name, int hours) {
        writeBytes(folder / name, {'x'});
        const timespec when[2] = {{::time(nullptr) - hours * 3600, 0}, {::time(nullptr) - hours * 3600, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder / name).c_str(), when, 0), 0);
    };
    age(".old.mp3.tonemirror-AAAAAA", 48);
    age(".held.mp3.tonemirror-BBBBBB", 48);
    age(".new.mp3.tonemirror-CCCCCC", 2);
    age(".other.mp3.tmp-DDDDDD.mp3", 48); // not our pattern
    const int held = ::open((folder / ".held.mp3.tonemirror-BBBBBB").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    audio::TagAccess tags(plugins());
    stageTitle(tags, file);
    ASSERT_EQ(tags.close(), S_OK);
    ::close(held);
    EXPECT_EQ(folderEntries(),
              (std::vector<std::string>{".held.mp3.tonemirror-BBBBBB", ".new.mp3.tonemirror-CCCCCC",
                                        ".other.mp3.tmp-DDDDDD.mp3", "song.mp3"}));
}

// A scan passes the copies by: a leftover identical to its original is no duplicate of it, while a
// plain copy is.
TEST_F(TagWriteSafety, ScanSkipsWriteCopies) {
    ASSERT_TRUE(makeTone(file, {"-b:a", "128k"}, {440, 44100, 2, 20})); // long enough to be compared
    fs::copy_file(file, folder / ".song.mp3.tonemirror-AAAAAA");
    fs::copy_file(file, folder / "plain.mp3");
    const std::string cli = (os::programFolder() / "tonemirror-cli").string();
    TempFolder scratch;
    const std::string out = (scratch / "out.csv").string();
    ASSERT_TRUE(run({cli, "scan", "--quiet", "--no-cache", "--ignore-list", (scratch / "ignores").string(),
                     "--format", "csv", "--output", out, folder.path().string()}));
    const auto bytes = readBytes(out);
    const std::string csv(bytes.begin(), bytes.end());
    EXPECT_NE(csv.find("plain.mp3"), std::string::npos) << csv;
    EXPECT_EQ(csv.find("tonemirror-"), std::string::npos) << csv;
}

} // namespace
