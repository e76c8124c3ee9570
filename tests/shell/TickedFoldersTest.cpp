#include "shell/TickedFolders.h"

#include "support/FileContents.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <random>

#include <algorithm>
#include <set>

namespace {

namespace fs = std::filesystem;
using tonemirror::fakes::TempFolder;
using tonemirror::shell::DiskFolders;
using tonemirror::shell::FolderSystem;
using tonemirror::shell::TickedFolders;
using Mark = tonemirror::shell::FolderMark;

// The real file system, with chosen folders standing in as mount roots or left out of listings.
class WithMounts : public FolderSystem {
public:
    std::optional<std::vector<std::u16string>> subfolders(std::u16string_view folder) const override {
        auto listed = local_.subfolders(folder);
        if (listed) {
            std::erase_if(*listed, [&](const auto& path) { return hidden.count(path) != 0; });
        }
        return listed;
    }
    bool isMountRoot(std::u16string_view folder) const override {
        return mounts.count(std::u16string(folder)) != 0 || local_.isMountRoot(folder);
    }
    bool exists(std::u16string_view folder) const override { return local_.exists(folder); }

    std::set<std::u16string> mounts;
    std::set<std::u16string> hidden;

private:
    DiskFolders local_;
};

std::u16string u16(const fs::path& path) {
    const std::string text = path.string();
    return {text.begin(), text.end()}; // temporary folders have ASCII names
}

// /tmp/tm-shell-X (a "mount root") holding Music/{Jazz, Pop, Rock/{Live, Studio}}, Books/Old, Only/One.
class TickingTest : public ::testing::Test {
protected:
    TickingTest() {
        for (const char* folder :
             {"Music/Jazz", "Music/Pop", "Music/Rock/Live", "Music/Rock/Studio", "Books/Old", "Only/One"}) {
            fs::create_directories(root_ / folder);
        }
        system_.mounts.insert(u16(root_.path()));
    }
    std::u16string path(const char* relative) const { return u16(root_ / relative); }
    std::set<std::u16string> ticked() const { return {folders_.folders().begin(), folders_.folders().end()}; }
    std::set<std::u16string> paths(std::initializer_list<const char*> relative) const {
        std::set<std::u16string> out;
        for (const char* p : relative) {
            out.insert(path(p));
        }
        return out;
    }

    TempFolder root_;
    WithMounts system_;
    TickedFolders folders_{system_};
};

TEST_F(TickingTest, TheOnlySubfolderTicksItsParent) {
    EXPECT_EQ(folders_.tick(path("Only/One")), path("Only"));
    EXPECT_EQ(ticked(), paths({"Only"}));
    EXPECT_EQ(folders_.markOf(path("Only/One")), Mark::Ticked);
    EXPECT_EQ(folders_.markOf(u16(root_.path())), Mark::PartlyTicked);
}

// A folder its parent does not list (hidden from the tree, or gone) must not make the parent look
// complete.
TEST_F(TickingTest, AFolderTheParentDoesNotListDoesNotTickTheParent) {
    system_.hidden.insert(path("Books/Old"));
    EXPECT_EQ(folders_.tick(path("Books/Old")), path("Books/Old"));
    EXPECT_EQ(folders_.tick(path("Books/Old/Gone")), path("Books/Old/Gone"));
    EXPECT_EQ(ticked(), paths({"Books/Old"}));
}

TEST_F(TickingTest, TickingEverySubfolderClimbsToTheMountRootAndNoFurther) {
    folders_.tick(path("Music/Jazz"));
    folders_.tick(path("Music/Pop"));
    EXPECT_EQ(folders_.tick(path("Music/Rock/Live")), path("Music/Rock/Live"));
    EXPECT_EQ(folders_.tick(path("Music/Rock/Studio")), path("Music"));
    EXPECT_EQ(ticked(), paths({"Music"}));
    folders_.tick(path("Books"));
    EXPECT_EQ(folders_.tick(path("Only")), u16(root_.path()));
    EXPECT_EQ(folders_.folders(), std::vector<std::u16string>{u16(root_.path())});
}

TEST_F(TickingTest, UntickingInsideATickedFolderTicksTheSiblingsInstead) {
    folders_.tick(path("Music"));
    const auto change = folders_.click(path("Music/Rock"));
    EXPECT_FALSE(change.ticked);
    EXPECT_EQ(change.changed, path("Music/Rock"));
    EXPECT_EQ(ticked(), paths({"Music/Jazz", "Music/Pop"}));
    EXPECT_EQ(folders_.markOf(path("Music")), Mark::PartlyTicked);
    EXPECT_EQ(folders_.markOf(path("Music/Rock")), Mark::Unticked);
    EXPECT_EQ(folders_.markOf(path("Music/Rock/Live")), Mark::Unticked);
    EXPECT_EQ(folders_.markOf(path("Music/Jazz")), Mark::Ticked);
}

TEST_F(TickingTest, UntickingDeeperSplitsEveryLevelBelowTheTickedFolder) {
    folders_.tick(path("Music"));
    EXPECT_EQ(folders_.untick(path("Music/Rock/Live")), path("Music/Rock/Live"));
    EXPECT_EQ(ticked(), paths({"Music/Jazz", "Music/Pop", "Music/Rock/Studio"}));
}

TEST_F(TickingTest, UntickingNextToATickedSiblingChangesOnlyThatBranch) {
    folders_.tick(path("Music/Jazz"));
    folders_.tick(path("Music/Pop"));
    EXPECT_EQ(folders_.untick(path("Music/Jazz")), path("Music/Jazz"));
    EXPECT_EQ(ticked(), paths({"Music/Pop"}));
}

TEST_F(TickingTest, UntickingTheLastFolderClearsTheMarksUpToTheMountRoot) {
    folders_.tick(path("Music/Jazz"));
    folders_.tick(path("Books/Old"));
    EXPECT_EQ(folders_.untick(path("Music/Jazz")), path("Music"));
    EXPECT_EQ(folders_.untick(path("Books")), u16(root_.path()));
    EXPECT_TRUE(folders_.folders().empty());
}

// A folder ticked above a mounted file system still gives way when something inside the mount is
// unticked, or the unticked folder would stay in the scan.
TEST_F(TickingTest, UntickingInsideAMountSplitsATickedFolderAboveIt) {
    system_.mounts.insert(path("Music"));
    folders_.tick(u16(root_.path()));
    folders_.untick(path("Music/Rock"));
    EXPECT_EQ(ticked(), paths({"Music/Jazz", "Music/Pop", "Books", "Only"}));
    EXPECT_EQ(folders_.markOf(path("Music/Rock/Live")), Mark::Unticked);
}

TEST_F(TickingTest, ClickTicksWhatIsNotTickedAndIgnoresOtherItems) {
    folders_.tick(path("Music/Jazz"));
    EXPECT_TRUE(folders_.click(path("Music")).ticked); // partly ticked becomes ticked
    EXPECT_EQ(ticked(), paths({"Music"}));
    EXPECT_TRUE(folders_.click(u"Computer").changed.empty());
    EXPECT_TRUE(folders_.click(u"").changed.empty());
    EXPECT_EQ(ticked(), paths({"Music"}));
}

TEST(StoredFolders, RedundantEntriesGiveWayToTheInnermostAndTheLastCopy) {
    EXPECT_EQ(tonemirror::shell::dropRedundantFolders(
                  {u"/m/Music", u"/m/Music/Rock", u"/m/b", u"relative", u"", u"/m/c/", u"/m/b", u"/m/bc"}),
              (std::vector<std::u16string>{u"/m/Music/Rock", u"/m/c", u"/m/b", u"/m/bc"}));
}

// The rule as first written, pair by pair, as the reference for the sorted search.
std::vector<std::u16string> dropRedundantPairwise(std::vector<std::u16string> folders) {
    std::erase_if(folders, [](const auto& entry) { return !tonemirror::shell::isFileSystemPath(entry); });
    for (auto& entry : folders) {
        while (entry.size() > 1 && entry.back() == u'/') {
            entry.pop_back();
        }
    }
    for (std::size_t i = 0; i < folders.size();) {
        bool redundant = false;
        for (std::size_t j = 0; j < folders.size() && !redundant; ++j) {
            redundant =
                j != i && (folders[j] == folders[i] || tonemirror::shell::pathInside(folders[j], folders[i]));
        }
        if (redundant) {
            folders.erase(folders.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return folders;
}

// Names that sort between a folder and its subfolders (" " and "-" come before "/"), the root, copies,
// trailing separators and relative entries, in random lists.
TEST(StoredFolders, SortedSearchAgreesWithThePairwiseRule) {
    const std::u16string parts[] = {u"a", u"a b", u"a-", u"b", u"ab", u""};
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::u16string> folders(random() % 9);
        for (auto& folder : folders) {
            const int depth = static_cast<int>(random() % 4);
            folder = random() % 11 == 0 ? u"rel" : u"";
            for (int d = 0; d < depth; ++d) {
                folder += u"/" + parts[random() % std::size(parts)];
            }
            if (folder.empty() || random() % 5 == 0) {
                folder += u"/";
            }
        }
        ASSERT_EQ(tonemirror::shell::dropRedundantFolders(folders), dropRedundantPairwise(folders))
            << "round " << round;
    }
}

struct RelationCase {
    std::u16string a;
    std::u16string b;
    bool related;
};

class PathRelation : public ::testing::TestWithParam<RelationCase> {};

TEST_P(PathRelation, PrefixEndingAtASeparator) {
    EXPECT_EQ(tonemirror::shell::pathsRelated(GetParam().a, GetParam().b), GetParam().related);
    EXPECT_EQ(tonemirror::shell::pathsRelated(GetParam().b, GetParam().a), GetParam().related);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, PathRelation,
    ::testing::Values(RelationCase{u"/a", u"/a", true}, RelationCase{u"/a", u"/a/b", true},
                      RelationCase{u"/a", u"/ab", false}, RelationCase{u"/", u"/x", true},
                      RelationCase{u"/a/", u"/a/b", true}, RelationCase{u"/Music", u"/music", false},
                      RelationCase{u"/a/b", u"/a/c", false}));

TEST(TickedFoldersHint, FirstFiveThenEllipsis) {
    DiskFolders system;
    TickedFolders folders(system);
    EXPECT_EQ(folders.hintText(u"none"), u"none");
    folders.load({u"/1", u"/2", u"/3", u"/4", u"/5"});
    EXPECT_EQ(folders.hintText(u"none"), u"/1, /2, /3, /4, /5");
    folders.load({u"/1", u"/2", u"/3", u"/4", u"/5", u"/6"});
    EXPECT_EQ(folders.hintText(u"none"), u"/1, /2, /3, /4, /5, ...");
}

TEST(DiskFoldersTest, ListsFoldersAndLinksToFoldersOnly) {
    TempFolder root;
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    tonemirror::fakes::writeText(root / "file", "x");
    fs::create_directory_symlink(root / "a", root / "link");
    DiskFolders system;
    auto listed = system.subfolders(u16(root.path()));
    ASSERT_TRUE(listed.has_value());
    std::sort(listed->begin(), listed->end());
    EXPECT_EQ(*listed, (std::vector<std::u16string>{u16(root / "a"), u16(root / "b"), u16(root / "link")}));
    EXPECT_FALSE(system.subfolders(u16(root / "missing")).has_value());

    EXPECT_TRUE(system.isMountRoot(u"/"));
    EXPECT_TRUE(system.isMountRoot(u"/proc"));
    EXPECT_FALSE(system.isMountRoot(u16(root / "a")));
    EXPECT_TRUE(system.exists(u16(root / "a")));
    EXPECT_FALSE(system.exists(u16(root / "file")));
}

} // namespace
