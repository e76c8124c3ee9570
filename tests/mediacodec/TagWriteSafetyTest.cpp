// Writing tags never damages the file: the new version is a copy that replaces the original by
// rename, and any failure leaves the original exactly as it was.

#include "audio/TagAccess.h"
#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

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

    std::vector<std::string> folderEntries() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder.path())) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

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

INSTANTIATE_TEST_SUITE_P(Mediacodec, ChangedMeanwhile,
                         testing::Values(Meanwhile::Replaced, Meanwhile::Appended, Meanwhile::Deleted));

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

} // namespace
