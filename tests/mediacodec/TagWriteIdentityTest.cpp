// A tag write replaces the file by a copy, and to everyone else it must stay the same file: owner,
// group, permissions, access lists and extended attributes. Where that cannot be kept (another user's
// file, a file with several names) the write is refused and the file left exactly as it was.

#include "audio/TagAccess.h"
#include "mediacodec/MediaFiles.h"
#include "platform/os/Paths.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace tonemirror;
using namespace mediafiles;

namespace {

audio::TagProblem writeTitle(const fs::path& file, const std::u16string& title) {
    audio::TagAccess tags(plugins());
    if (failed(tags.open(os::fromNativePath(file)))) {
        return tags.lastProblem();
    }
    tags.setTag(TagId_Title, title.c_str(), static_cast<std::int32_t>(title.size()));
    tags.close();
    return tags.lastProblem();
}

std::vector<char> attribute(const fs::path& file, const char* name) {
    std::vector<char> value(4096);
    const ssize_t n = ::getxattr(file.c_str(), name, value.data(), value.size());
    value.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return value;
}

// An access list in the system's attribute form: the owner, one more user, the group, mask, others.
std::vector<char> accessList(std::uint32_t otherUser) {
    std::vector<char> acl;
    const auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            acl.push_back(static_cast<char>(value >> (8 * i)));
        }
    };
    put(2, 4); // version
    const std::uint32_t none = 0xFFFFFFFFu;
    const std::uint32_t entries[][3] = {
        {0x01, 6, none}, {0x02, 4, otherUser}, {0x04, 4, none}, {0x10, 4, none}, {0x20, 0, none}};
    for (const auto& e : entries) {
        put(e[0], 2);
        put(e[1], 2);
        put(e[2], 4);
    }
    return acl;
}

class TagWriteIdentity : public testing::Test {
protected:
    void SetUp() override {
        file = folder / "song.mp3";
        ASSERT_TRUE(makeTone(file, {"-metadata", "title=Before"}, {440, 44100, 1, 1.0}));
        plugins(); // loaded before any fork
    }

    TempFolder folder;
    fs::path file;
};

// The folder hands new files an access list of its own; the copy must end up with the original's
// attributes and list, or with none when the original had none.
TEST_F(TagWriteIdentity, AccessListsAndExtendedAttributesAreKept) {
    const fs::path plain = folder / "plain.mp3";
    fs::copy_file(file, plain);
    const std::vector<char> acl = accessList(4242);
    if (::setxattr(file.c_str(), "user.origin", "ripped", 6, 0) != 0 ||
        ::setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
        ::setxattr(folder.path().c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
        GTEST_SKIP() << "the temporary folder's file system keeps no access lists (" << std::strerror(errno)
                     << ")";
    }
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);

    EXPECT_EQ(writeTitle(file, u"After"), audio::TagProblem::None);
    EXPECT_EQ(writeTitle(plain, u"After"), audio::TagProblem::None);

    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(attribute(file, "user.origin"), (std::vector<char>{'r', 'i', 'p', 'p', 'e', 'd'}));
    EXPECT_EQ(attribute(file, "system.posix_acl_access"), acl);
    EXPECT_TRUE(attribute(plain, "system.posix_acl_access").empty()) << "the folder's list came along";
}

TEST_F(TagWriteIdentity, AFileWithSeveralNamesIsRefused) {
    const fs::path other = folder / "other name.mp3";
    fs::create_hard_link(file, other);
    const std::vector<unsigned char> original = readBytes(file);
    EXPECT_EQ(writeTitle(file, u"After"), audio::TagProblem::HardLinked);
    EXPECT_EQ(fs::hard_link_count(file), 2u);
    EXPECT_EQ(readBytes(other), original);
    EXPECT_EQ(readBytes(file), original);
}

TEST_F(TagWriteIdentity, TheSuperuserKeepsAnotherUsersFileTheirs) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only the superuser can give a file to another user";
    }
    ASSERT_EQ(::chown(file.c_str(), 4242, 4343), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    EXPECT_EQ(writeTitle(file, u"After"), audio::TagProblem::None);
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, 4242u);
    EXPECT_EQ(after.st_gid, 4343u);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
}

// A shared folder of a group: another member's file is refused (the copy would be ours), one's own
// file keeps the group although a new file there would get the writer's own group.
TEST_F(TagWriteIdentity, InASharedFolderOnlyOwnFilesAreWrittenAndKeepTheirGroup) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs the superuser to act as two users of one group";
    }
    constexpr uid_t kOwner = 4242;
    constexpr uid_t kWriter = 4244;
    constexpr gid_t kGroup = 4343;
    const fs::path shared = folder / "shared";
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    ASSERT_EQ(::chown(shared.c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0775), 0);
    const fs::path theirs = shared / "theirs.mp3";
    const fs::path mine = shared / "mine.mp3";
    for (const auto& [path, owner] : {std::pair{theirs, kOwner}, std::pair{mine, kWriter}}) {
        fs::copy_file(file, path);
        ASSERT_EQ(::chown(path.c_str(), owner, kGroup), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    }
    const std::vector<unsigned char> original = readBytes(theirs);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const gid_t groups[] = {kGroup};
        if (::setgroups(1, groups) != 0 || ::setgid(kWriter) != 0 || ::setuid(kWriter) != 0) {
            ::_exit(99);
        }
        const auto first = static_cast<int>(writeTitle(theirs, u"After"));
        const auto second = static_cast<int>(writeTitle(mine, u"After"));
        ::_exit(first * 10 + second);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status) / 10, static_cast<int>(audio::TagProblem::OtherOwner));
    EXPECT_EQ(WEXITSTATUS(status) % 10, static_cast<int>(audio::TagProblem::None));
    struct stat st {};
    ASSERT_EQ(::stat(theirs.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kOwner);
    EXPECT_EQ(readBytes(theirs), original);
    ASSERT_EQ(::stat(mine.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kWriter);
    EXPECT_EQ(st.st_gid, kGroup);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
}

} // namespace
