#include "platform/os/DesktopTrash.h"
#include "platform/os/TrashDirectory.h"
#include "platform/os/TrashInfo.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tonemirror;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
}

std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t entries(const fs::path& folder) {
    std::error_code ec;
    std::size_t count = 0;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        ++count;
    }
    return count;
}

// A tmpfs mounted for the test's life: a second volume, a read-only or a full one. Needs the superuser.
class ScratchMount {
public:
    ScratchMount(const fs::path& at, const std::string& options, unsigned long flags = 0) : at_(at) {
        fs::create_directories(at_);
        mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | flags, options.c_str()) == 0;
    }
    ~ScratchMount() {
        if (mounted_) {
            ::umount2(at_.c_str(), MNT_DETACH);
        }
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool mounted() const { return mounted_; }

private:
    fs::path at_;
    bool mounted_ = false;
};

class DesktopTrashTest : public testing::Test {
protected:
    DesktopTrashTest() : trash_(os::TrashEnvironment{(folder_ / "data").string(), ::geteuid()}) {
        fs::create_directories(folder_ / "music");
    }
    fs::path song(const std::string& name, const std::string& content = "music") {
        write(folder_ / "music" / name, content);
        return folder_ / "music" / name;
    }
    fs::path homeTrash() const { return folder_ / "data" / "Trash"; }

    fakes::TempFolder folder_;
    os::DesktopTrash trash_;
};

TEST_F(DesktopTrashTest, MovesAFileWithItsRecordAndRestoresIt) {
    const fs::path file = song("song.mp3", "the song");
    const os::TrashOutcome outcome = trash_.moveToTrash(file.string());
    ASSERT_TRUE(outcome.ok) << os::describeTrashProblem(outcome.problem) << " " << outcome.detail;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(outcome.entry.originalPath, file.string());
    EXPECT_EQ(outcome.entry.trashedPath, (homeTrash() / "files" / "song.mp3").string());
    EXPECT_EQ(outcome.entry.infoPath, (homeTrash() / "info" / "song.mp3.trashinfo").string());
    EXPECT_EQ(read(outcome.entry.trashedPath), "the song");
    const auto info = os::parseTrashInfo(read(outcome.entry.infoPath));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->path, file.string());
    EXPECT_EQ(info->deletionDate.size(), 19u);
    EXPECT_EQ(fs::status(homeTrash()).permissions() & fs::perms::all, fs::perms::owner_all);

    const os::TrashOutcome back = trash_.restore(outcome.entry);
    ASSERT_TRUE(back.ok) << os::describeTrashProblem(back.problem);
    EXPECT_EQ(read(file), "the song");
    EXPECT_EQ(entries(homeTrash() / "files"), 0u);
    EXPECT_EQ(entries(homeTrash() / "info"), 0u);
}

class OddNames : public DesktopTrashTest, public testing::WithParamInterface<const char*> {};

// The record must bring back the very bytes of the name, "%41" and bytes that are no UTF-8 included.
TEST_P(OddNames, RoundTripThroughTheRecord) {
    const fs::path file = song(GetParam());
    const os::TrashOutcome outcome = trash_.moveToTrash(file.string());
    ASSERT_TRUE(outcome.ok) << os::describeTrashProblem(outcome.problem);
    const auto info = os::parseTrashInfo(read(outcome.entry.infoPath));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->path, file.string());
    ASSERT_TRUE(trash_.restore(outcome.entry).ok);
    EXPECT_TRUE(fs::exists(file));
}

INSTANTIATE_TEST_SUITE_P(Trash, OddNames,
                         testing::Values("%41.mp3", "Latin-1 \xE9t\xE9.mp3", "line\nbreak.mp3", "100%.mp3",
                                         "Path=x.mp3"));

TEST_F(DesktopTrashTest, NameClashesTakeTheNextFreeName) {
    fs::create_directories(folder_ / "other");
    write(folder_ / "other" / "song.mp3", "second");
    const os::TrashOutcome first = trash_.moveToTrash(song("song.mp3", "first").string());
    // A leftover without a record also holds its name.
    write(homeTrash() / "files" / "song.2.mp3", "leftover");
    const os::TrashOutcome second = trash_.moveToTrash((folder_ / "other" / "song.mp3").string());
    ASSERT_TRUE(first.ok && second.ok);
    EXPECT_EQ(fs::path(second.entry.trashedPath).filename(), "song.3.mp3");
    EXPECT_FALSE(fs::exists(homeTrash() / "info" / "song.2.mp3.trashinfo")); // taken back
    EXPECT_EQ(read(homeTrash() / "files" / "song.2.mp3"), "leftover");
    ASSERT_TRUE(trash_.restore(second.entry).ok);
    ASSERT_TRUE(trash_.restore(first.entry).ok);
    EXPECT_EQ(read(folder_ / "other" / "song.mp3"), "second");
    EXPECT_EQ(read(folder_ / "music" / "song.mp3"), "first");
}

TEST_F(DesktopTrashTest, RestoreNeverReplacesAFile) {
    const fs::path file = song("song.mp3", "old");
    const os::TrashOutcome outcome = trash_.moveToTrash(file.string());
    ASSERT_TRUE(outcome.ok);
    write(file, "new");
    const os::TrashOutcome back = trash_.restore(outcome.entry);
    EXPECT_FALSE(back.ok);
    EXPECT_EQ(back.problem, os::TrashProblem::PlaceTaken);
    EXPECT_EQ(read(file), "new");
    EXPECT_EQ(read(outcome.entry.trashedPath), "old");
    EXPECT_TRUE(fs::exists(outcome.entry.infoPath));
}

// An entry from a damaged journal must not move trash items to a place their record does not name,
// nor move files that are no trash items at all.
TEST_F(DesktopTrashTest, RestoreFollowsOnlyTheTrashRecord) {
    const os::TrashOutcome outcome = trash_.moveToTrash(song("song.mp3").string());
    ASSERT_TRUE(outcome.ok);
    os::TrashEntry elsewhere = outcome.entry;
    elsewhere.originalPath = (folder_ / "elsewhere.mp3").string();
    EXPECT_EQ(trash_.restore(elsewhere).problem, os::TrashProblem::RecordMismatch);
    EXPECT_FALSE(fs::exists(folder_ / "elsewhere.mp3"));

    const fs::path loose = song("loose.mp3");
    fs::create_directories(folder_ / "fake" / "files");
    fs::create_directories(folder_ / "fake" / "info");
    const os::TrashEntry notTrash{(folder_ / "moved.mp3").string(), loose.string(),
                                  (folder_ / "music" / "info" / "loose.mp3.trashinfo").string()};
    EXPECT_EQ(trash_.restore(notTrash).problem, os::TrashProblem::NotATrashEntry);
    EXPECT_TRUE(fs::exists(loose));
    EXPECT_TRUE(fs::exists(outcome.entry.trashedPath));
}

TEST_F(DesktopTrashTest, RefusesWhatIsInTheTrashOrHoldsIt) {
    const os::TrashOutcome outcome = trash_.moveToTrash(song("song.mp3").string());
    ASSERT_TRUE(outcome.ok);
    const os::TrashOutcome again = trash_.moveToTrash(outcome.entry.trashedPath);
    EXPECT_EQ(again.problem, os::TrashProblem::AlreadyInTrash);
    EXPECT_TRUE(fs::exists(outcome.entry.trashedPath));
    EXPECT_EQ(trash_.moveToTrash(homeTrash().string()).problem, os::TrashProblem::AlreadyInTrash);
    EXPECT_EQ(trash_.moveToTrash((folder_ / "data").string()).problem, os::TrashProblem::HoldsTrash);
    EXPECT_TRUE(fs::exists(homeTrash() / "info"));
    EXPECT_EQ(trash_.moveToTrash((folder_ / "music" / "none.mp3").string()).problem,
              os::TrashProblem::NotFound);
    EXPECT_EQ(trash_.moveToTrash("/").problem, os::TrashProblem::NotAnItem);
}

TEST_F(DesktopTrashTest, ALinkGoesToTheTrashNotItsTarget) {
    const fs::path target = song("target.mp3", "kept");
    fs::create_symlink(target, folder_ / "music" / "link.mp3");
    const os::TrashOutcome outcome = trash_.moveToTrash((folder_ / "music" / "link.mp3").string());
    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(fs::is_symlink(outcome.entry.trashedPath));
    EXPECT_EQ(read(target), "kept");
}

// ---- a trash folder that cannot take a record: answered at once, the file stays ----

struct UnwritableCase {
    const char* name;
    bool needsRoot;
    std::function<bool(const fs::path& info, std::unique_ptr<ScratchMount>& mount)> prepare;
    os::TrashProblem problem;
    friend void PrintTo(const UnwritableCase& c, std::ostream* out) { *out << c.name; }
};

class UnwritableRecords : public DesktopTrashTest, public testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableRecords, FailAtOnceAndTheFileStays) {
    if (GetParam().needsRoot != (::geteuid() == 0)) {
        GTEST_SKIP() << (GetParam().needsRoot ? "mounting a tmpfs needs the superuser"
                                              : "the superuser writes into read-only folders");
    }
    const fs::path info = homeTrash() / "info";
    fs::create_directories(info);
    fs::create_directories(homeTrash() / "files");
    ::chmod(homeTrash().c_str(), 0700);
    std::unique_ptr<ScratchMount> mount;
    if (!GetParam().prepare(info, mount)) {
        GTEST_SKIP() << "this system does not let the test mount a tmpfs";
    }
    const fs::path file = song("song.mp3", "stays");
    const auto start = std::chrono::steady_clock::now();
    const os::TrashOutcome outcome = trash_.moveToTrash(file.string());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.problem, GetParam().problem) << os::describeTrashProblem(outcome.problem);
    EXPECT_EQ(read(file), "stays");
    EXPECT_EQ(entries(homeTrash() / "files"), 0u);
    ::chmod(info.c_str(), 0700);
}

INSTANTIATE_TEST_SUITE_P(
    Trash, UnwritableRecords,
    testing::Values(UnwritableCase{"ReadOnlyFolder", false,
                                   [](const fs::path& at, auto&) { return ::chmod(at.c_str(), 0500) == 0; },
                                   os::TrashProblem::TrashNotWritable},
                    UnwritableCase{"ReadOnlyDisk", true,
                                   [](const fs::path& at, std::unique_ptr<ScratchMount>& mount) {
                                       mount = std::make_unique<ScratchMount>(at, "size=64k,mode=0700",
                                                                              MS_RDONLY);
                                       return mount->mounted();
                                   },
                                   os::TrashProblem::TrashNotWritable},
                    UnwritableCase{"NoFreeInodes", true,
                                   [](const fs::path& at, std::unique_ptr<ScratchMount>& mount) {
                                       mount = std::make_unique<ScratchMount>(
                                           at, "size=64k,nr_inodes=1,mode=0700");
                                       return mount->mounted();
                                   },
                                   os::TrashProblem::TrashFull}),
    [](const auto& param) { return param.param.name; });

// The record is written first; a move the system then refuses takes it back out.
TEST_F(DesktopTrashTest, ARefusedMoveLeavesNoRecord) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a tmpfs needs the superuser";
    }
    fs::create_directories(homeTrash() / "info");
    ::chmod(homeTrash().c_str(), 0700);
    ScratchMount files(homeTrash() / "files", "size=64k,mode=0700"); // another device: rename fails
    if (!files.mounted()) {
        GTEST_SKIP() << "this system does not let the test mount a tmpfs";
    }
    const fs::path file = song("song.mp3", "stays");
    const os::TrashOutcome outcome = trash_.moveToTrash(file.string());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.problem, os::TrashProblem::MoveFailed);
    EXPECT_EQ(read(file), "stays");
    EXPECT_EQ(entries(homeTrash() / "info"), 0u);
    EXPECT_EQ(entries(homeTrash() / "files"), 0u); // never copied across
}

// A mounted disk is not an item of either disk: nothing may be made on the way to refusing it.
TEST_F(DesktopTrashTest, AMountPointIsRefusedBeforeAnyTrashIsMade) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a tmpfs needs the superuser";
    }
    ScratchMount volume(folder_ / "music" / "volume", "size=64k");
    if (!volume.mounted()) {
        GTEST_SKIP() << "this system does not let the test mount a tmpfs";
    }
    const std::string top = os::TrashDirectory::volumeTop(folder_.path().string());
    const fs::path ownTrash = fs::path(top) / (".Trash-" + std::to_string(::geteuid()));
    const bool existed = fs::exists(ownTrash);
    const os::TrashOutcome outcome = trash_.moveToTrash((folder_ / "music" / "volume").string());
    EXPECT_EQ(outcome.problem, os::TrashProblem::Busy);
    EXPECT_EQ(fs::exists(ownTrash), existed);
    EXPECT_FALSE(fs::exists(homeTrash()));
}

// ---- a file on another volume: that volume's trash, only when it is safe ----

struct VolumeCase {
    const char* name;
    std::function<void(const fs::path& top, const std::string& uid)> prepare;
    const char* trash; // where the file goes, under the volume top; nullptr: refused
    friend void PrintTo(const VolumeCase& c, std::ostream* out) { *out << c.name; }
};

class VolumeTrash : public testing::TestWithParam<VolumeCase> {};

TEST_P(VolumeTrash, UsesOnlyARealFolderOfTheUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a second volume (tmpfs) needs the superuser";
    }
    fakes::TempFolder folder;
    const fs::path top = folder / "volume";
    ScratchMount volume(top, "size=1m,mode=0755");
    if (!volume.mounted()) {
        GTEST_SKIP() << "this system does not let the test mount a tmpfs";
    }
    const std::string uid = std::to_string(::geteuid());
    fs::create_directories(top / "music");
    fs::create_directories(top / "private");
    ::chmod((top / "private").c_str(), 0700);
    write(top / "music" / "song.mp3", "on the volume");
    GetParam().prepare(top, uid);

    os::DesktopTrash trash(os::TrashEnvironment{(folder / "data").string(), ::geteuid()});
    const os::TrashOutcome outcome = trash.moveToTrash((top / "music" / "song.mp3").string());
    EXPECT_EQ(entries(top / "private"), 0u); // nothing ever lands where a link points
    if (GetParam().trash == nullptr) {
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.problem, os::TrashProblem::UnsafeTrash)
            << os::describeTrashProblem(outcome.problem);
        EXPECT_EQ(read(top / "music" / "song.mp3"), "on the volume");
        return;
    }
    ASSERT_TRUE(outcome.ok) << os::describeTrashProblem(outcome.problem) << ": " << outcome.detail;
    const fs::path used = top / (std::string(GetParam().trash) + uid);
    EXPECT_EQ(outcome.entry.trashedPath, (used / "files" / "song.mp3").string());
    EXPECT_EQ(fs::status(used).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(folder / "data" / "Trash"));
    const auto info = os::parseTrashInfo(read(outcome.entry.infoPath));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->path, "music/song.mp3"); // relative to the volume's top
    EXPECT_TRUE(trash.isTrashFolder(used.parent_path().string()) || trash.isTrashFolder(used.string()));
    ASSERT_TRUE(trash.restore(outcome.entry).ok);
    EXPECT_EQ(read(top / "music" / "song.mp3"), "on the volume");
}

void makeFolder(const fs::path& folder, mode_t mode) {
    fs::create_directories(folder);
    ::chmod(folder.c_str(), mode);
}

INSTANTIATE_TEST_SUITE_P(
    Trash, VolumeTrash,
    testing::Values(
        VolumeCase{"OwnFolderMadeWhenAbsent", [](const fs::path&, const std::string&) {}, ".Trash-"},
        VolumeCase{"SharedFolderWithStickyBit",
                   [](const fs::path& top, const std::string&) { makeFolder(top / ".Trash", 01777); },
                   ".Trash/"},
        VolumeCase{"SharedFolderWithoutStickyBitIsPassedOver",
                   [](const fs::path& top, const std::string&) { makeFolder(top / ".Trash", 0777); },
                   ".Trash-"},
        VolumeCase{"SharedFolderThatIsALinkIsPassedOver",
                   [](const fs::path& top, const std::string&) {
                       makeFolder(top / "elsewhere", 01777);
                       fs::create_directory_symlink(top / "elsewhere", top / ".Trash");
                   },
                   ".Trash-"},
        VolumeCase{"UserFolderInSharedOneThatIsALinkIsPassedOver",
                   [](const fs::path& top, const std::string& uid) {
                       makeFolder(top / ".Trash", 01777);
                       fs::create_directory_symlink(top / "private", top / ".Trash" / uid);
                   },
                   ".Trash-"},
        VolumeCase{"OwnFolderThatIsALinkIsRefused",
                   [](const fs::path& top, const std::string& uid) {
                       fs::create_directory_symlink(top / "private", top / (".Trash-" + uid));
                   },
                   nullptr},
        VolumeCase{"OwnFolderOfAnotherUserIsRefused",
                   [](const fs::path& top, const std::string& uid) {
                       makeFolder(top / (".Trash-" + uid), 0700);
                       ::chown((top / (".Trash-" + uid)).c_str(), 4242, 4242);
                   },
                   nullptr},
        VolumeCase{
            "OwnFolderOpenToOthersIsRefused",
            [](const fs::path& top, const std::string& uid) { makeFolder(top / (".Trash-" + uid), 0755); },
            nullptr}),
    [](const auto& param) { return param.param.name; });

} // namespace
