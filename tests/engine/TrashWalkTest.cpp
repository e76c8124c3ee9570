// Scans leave the desktop's trash folders out: what the user threw away never pairs with the library.

#include "engine/ScanFixture.h"
#include "support/ToneSong.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

using namespace tonemirror;
namespace fs = std::filesystem;

namespace {

// A tmpfs mounted for the test's life: a second volume.
struct Volume {
    explicit Volume(const fs::path& where) : at(where) {
        fs::create_directories(at);
        mounted = ::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m") == 0;
    }
    ~Volume() {
        if (mounted) {
            ::umount2(at.c_str(), MNT_DETACH);
        }
    }
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;
    fs::path at;
    bool mounted = false;
};

class TrashWalk : public engine::test::ScanFixture {
protected:
    void SetUp() override {
        ScanFixture::SetUp();
        // The library is the home folder, holding the user's data folder and so the home trash.
        dataHome_ = music_ / ".local" / "share";
        engine_->setTrashEnvironment(os::TrashEnvironment{dataHome_.string(), ::geteuid()});
    }
    void song(const std::string& relative, const std::string& title) {
        fakes::ToneSong s;
        s.seed = 7;
        s.seconds = 20.0;
        s.title = title;
        s.artist = "artist";
        write(relative, s);
    }
    std::vector<engine::SkippedItem> trashSkips() const {
        std::vector<engine::SkippedItem> found;
        for (const auto& item : engine_->skippedItems()) {
            if (item.reason == engine::SkipReason::TrashFolder) {
                found.push_back(item);
            }
        }
        return found;
    }
    std::u16string wide(const fs::path& path) const { return os::fromNativePath(path); }

    fs::path dataHome_;
};

TEST_F(TrashWalk, TheHomeTrashIsCountedAsSkippedNotScanned) {
    song("album/song.tone", "Song");
    song(".local/share/Trash/files/song.tone", "Song");
    song(".local/share/Trash/files/older/song.tone", "Song");
    song(".local/share/Other/song copy.tone", "Song");

    const auto pairs = scan({wide(music_)});
    ASSERT_EQ(pairs.size(), 1u) << "only the copy outside the trash";
    for (const auto& pair : pairs) {
        EXPECT_EQ(pair.path1.find(u"/Trash/"), std::u16string::npos);
        EXPECT_EQ(pair.path2.find(u"/Trash/"), std::u16string::npos);
    }
    const auto skipped = trashSkips();
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].path, wide(dataHome_ / "Trash"));
    EXPECT_EQ(engine_->counters().itemsSkipped, 1);
    EXPECT_EQ(engine_->counters().filesDone, 2);
}

TEST_F(TrashWalk, AFolderTickedInsideTheTrashIsSkippedNamingTheTrash) {
    song("album/song.tone", "Song");
    song(".local/share/Trash/files/song.tone", "Song");
    EXPECT_TRUE(scan({wide(music_ / "album"), wide(dataHome_ / "Trash" / "files")}).empty());
    const auto skipped = trashSkips();
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].path, wide(dataHome_ / "Trash" / "files"));
    EXPECT_EQ(skipped[0].detail, wide(dataHome_ / "Trash"));
}

// The names of volume trashes count only at the top of a volume; elsewhere they are ordinary folders.
TEST_F(TrashWalk, VolumeTrashNamesCountOnlyAtTheTopOfAVolume) {
    song("album/song.tone", "Song");
    song("album/.Trash-1000/song.tone", "Song");
    ASSERT_EQ(scan({wide(music_)}).size(), 1u);
    EXPECT_TRUE(trashSkips().empty());

    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a second volume (tmpfs) needs the superuser";
    }
    const fs::path volume = music_ / "volume";
    const Volume mounted(volume);
    if (!mounted.mounted) {
        GTEST_SKIP() << "this system does not let the test mount a tmpfs";
    }
    song("volume/.Trash-1000/files/song.tone", "Song");
    song("volume/.Trash/1000/files/song.tone", "Song");
    song("volume/.Trash-x/song.tone", "Song"); // not a trash name
    const auto pairs = scan({wide(music_)});
    std::vector<std::u16string> skipped;
    for (const auto& item : trashSkips()) {
        skipped.push_back(item.path);
    }
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, (std::vector<std::u16string>{wide(volume / ".Trash"), wide(volume / ".Trash-1000")}));
    EXPECT_EQ(pairs.size(), 3u) << "song, the copy in album/.Trash-1000 and the one in .Trash-x";
}

} // namespace
